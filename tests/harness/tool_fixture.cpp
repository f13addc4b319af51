#include "harness/tool_fixture.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"

void LibraryWithDatabase::SetUp() {
    SKIP_UNLESS_ROOT();
    writePasswordFile(sandbox, "\n");
}

Outcome LibraryWithDatabase::inside(const std::function<void()>& body, std::map<std::string, std::string> env) {
    if (env.empty()) env = db.socketEnv();
    return runInSandbox(sandbox, [&] {
        program_path = "/opt/zev/bin/verstally";
        applyDatabaseEnv(env);
        body();
    });
}

void ToolWithDatabase::SetUp() {
    LibraryWithDatabase::SetUp();
    if (!IsSkipped()) sandbox.writeProductConf();
}

ToolRun ToolWithDatabase::toolRun(const std::vector<std::string>& args) const {
    ToolRun r;
    r.args = args;
    r.env = db.socketEnv();
    return r;
}

Outcome ToolWithDatabase::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    ToolRun r = toolRun(args);
    for (const auto& entry : env) r.env[entry.first] = entry.second;
    return runTool(sandbox, r);
}

bool strikeRunTimer(pid_t pid) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    info.si_signo = SIGALRM;
    info.si_code = SI_TIMER;
    info.si_value.sival_int = RUN_TIMER_MARK;
    return syscall(SYS_rt_sigqueueinfo, pid, SIGALRM, &info) == 0;
}

void rowNotRun(const std::string& row, const std::string& reason) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "?";
    std::printf("[ NOT RUN  ] %s: %s: %s\n", name.c_str(), row.c_str(), reason.c_str());
    std::fflush(stdout);
    ::testing::Test::RecordProperty("not_run", row + ": " + reason);
}
