#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "env/constants.h"
#include "harness/accounts.h"
#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

using Rows = std::vector<std::pair<std::string, std::string>>;

class UpdateRun : public ToolWithDatabase {
protected:
    std::string pidFile() const { return sandbox.root() + "/dpkg-query.pid"; }
    // The numbers a process writes into `path`, once it has ended the line
    // (none after 30 s); one that names no process of another (0, 1) is 0.
    static std::vector<pid_t> pidsWritten(const std::string& path) {
        std::string text;
        for (int i = 0; i < 600 && (text.empty() || text.back() != '\n'); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 0 : 50));
            text = readWholeFile(path);
        }
        std::istringstream line(text);
        std::vector<pid_t> pids;
        for (long pid; line >> pid;) pids.push_back(pid > 1 ? static_cast<pid_t>(pid) : 0);
        return pids;
    }
    std::vector<std::string> replaces() { return db.statementsMentioning("REPLACE Components"); }
    // Whether `pid` has ended (or is a zombie, its parent yet to reap it)
    // within 5 s.
    static bool endsSoon(pid_t pid) {
        for (int i = 0; pid > 1 && i < 100; ++i) {
            const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
            const std::size_t close = stat.rfind(") ");
            if (stat.empty() || (close != std::string::npos && stat[close + 2] == 'Z')) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(UpdateRun, NothingInstalledWritesEveryComponentAsNotInstalled) {
    FakeDpkgQuery dpkg(sandbox, "");
    Outcome r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    Rows expected;
    for (const auto& c : registeredComponents()) expected.emplace_back(c.name, "not_installed");
    const auto rows = componentRows(db);
    EXPECT_EQ(rows.size(), 34u);
    EXPECT_EQ(Rows(rows.begin(), rows.end()), expected);
    EXPECT_EQ(replaces(), std::vector<std::string>{expectedReplace(expected)});
}

TEST_F(UpdateRun, EverythingInstalledWritesEveryVersionInOneStatement) {
    std::string records;
    for (const auto& c : registeredComponents())
        if (*c.debianPackage) records += installedRecord(c.debianPackage, std::string("1:") + c.debianPackage + "-1");
    records += installedRecord("mysql-server", "5.0.32-7") + installedRecord("mysql-server-4.1", "4.1.11") +
               installedRecord("libapache2-mod-php4", "4:4.4.4-8") + installedRecord("libapache2-mod-php5", "5.2.0-8") +
               installedRecord("drweb-base", "4.33-b") + installedRecord("drweb-updater", "4.33-u") +
               installedRecord("drweb-daemon", "4.33.2-d");
    FakeDpkgQuery dpkg(sandbox, records);
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\necho 'FrontPage Server Extensions'\necho 'Version: 5.0.2.2623'\n",
                      0755);
    const std::string cfPath = sandbox.root() + "/cf";
    sandbox.writeFile(cfPath + "/bin/cfinfo", readWholeFile(VERSTALLY_PRINT_INVOCATION_PATH), 0755);
    db.exec("INSERT INTO misc VALUES ('cf_instance_type', 'standard'), ('cf_instance_path', '" + cfPath + "')");

    Outcome r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");

    Rows expected;
    for (const auto& c : registeredComponents()) {
        std::string name = c.name;
        std::string version = *c.debianPackage ? std::string("1:") + c.debianPackage + "-1" : "";
        if (name == "mysql") version = "5.0.32-7";
        if (name == "php") version = "4:4.4.4-8";
        if (name == "drweb") version = "4.33.2-d";
        if (name == "frontpage") version = "5.0.2.2623";
        if (name == "coldfusion") version = "Version: cfinfo|-info|" + cfPath + "/bin";
        expected.emplace_back(name, version);
    }
    const auto rows = componentRows(db);
    EXPECT_EQ(Rows(rows.begin(), rows.end()), expected);
    EXPECT_EQ(replaces(), std::vector<std::string>{expectedReplace(expected)});
    // One batch for every single-package component, one query per rule.
    const auto asked = dpkg.askedNames();
    ASSERT_EQ(asked.size(), 4u);
    std::vector<std::string> batch;
    for (const auto& c : registeredComponents())
        if (*c.debianPackage) batch.push_back(c.debianPackage);
    EXPECT_EQ(asked[0], batch);
}

TEST_F(UpdateRun, RealPackageDatabaseAnswersEverySinglePackageRow) {
    Outcome r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = componentRows(db);
    EXPECT_EQ(rows.size(), 34u);
    for (const auto& c : registeredComponents()) {
        if (!*c.debianPackage) continue;
        // What the machine's own dpkg-query says of the package.
        const std::string command =
            std::string("dpkg-query -W -f='${db:Status-Status} ${Version}' '") + c.debianPackage + "' 2>/dev/null";
        char answer[512] = {};
        if (FILE* pipe = popen(command.c_str(), "r")) {
            const std::size_t got = std::fread(answer, 1, sizeof answer - 1, pipe);
            answer[got] = '\0';
            pclose(pipe);
        }
        const std::string text = answer;
        const bool installed = text.rfind("installed ", 0) == 0 && text.size() > 10;
        EXPECT_EQ(rows.at(c.name), installed ? text.substr(10) : "not_installed") << c.name;
    }
}

TEST_F(UpdateRun, VendorVersionsAreStoredLiterally) {
    FakeDpkgQuery dpkg(sandbox, "");
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\necho \"Version: 5.0'); DROP TABLE misc; -- \\\\x\"\n", 0755);
    Outcome r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(componentRows(db).at("frontpage"), "5.0'); DROP TABLE misc; -- \\x");
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM misc"), "0");
}

TEST_F(UpdateRun, FailedQuestionWritesNothingAndPrintsTheExceptionOnly) {
    FakeDpkgQuery dpkg(sandbox, "");
    // The unprivileged run must read the password file (its own, as a
    // password file must be) and make the lock.
    ASSERT_EQ(chown(sandbox.layerPath(ADMIN_PASSWORD_FILE).c_str(), NOBODY_ID, NOBODY_ID), 0);
    chmod(sandbox.productRoot().c_str(), 0777);
    ToolRun r = toolRun({});
    r.uid = NOBODY_ID;
    r.gid = NOBODY_ID;
    r.maxProcesses = 0;  // no room for a child
    Outcome result = runTool(sandbox, r);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string("forkExecvPipes: fork() failed: ") + std::strerror(EAGAIN));
    EXPECT_TRUE(componentRows(db).empty());
    EXPECT_TRUE(replaces().empty());
}

TEST_F(UpdateRun, DatabaseDownEndsBeforeTheLock) {
    DeadServer dead;
    FakeDpkgQuery dpkg(sandbox, "");
    // A refused connection reads the same over TCP and a Unix socket.
    for (const auto& env : {dead.tcpEnv(db.name()), dead.socketEnv(db.name())}) {
        Outcome r = run({}, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, StartsWith("verstally: db_connect: failed to connect to database: Error: "));
        EXPECT_THAT(r.err, EndsWith(" (111)\nverstally: Unable to connect to the mysql database\nSystem error 111: " +
                                    std::string(std::strerror(ECONNREFUSED)) + "\n"));
        EXPECT_EQ(r.out, r.err);
    }
    // The product root lies outside every overlay: its path is the same
    // inside and out.
    EXPECT_NE(access((sandbox.productRoot() + "/var/utilities.sem").c_str(), F_OK), 0);
    EXPECT_TRUE(dpkg.runs().empty());
}

TEST_F(UpdateRun, FailedStatementIsReported) {
    FakeDpkgQuery dpkg(sandbox, "");
    db.exec("DROP TABLE Components");
    Outcome r = run({});
    EXPECT_EQ(r.status, 1);
    // The server's reason alone: no leftover error of the client library.
    EXPECT_EQ(r.err, "verstally: Unable to update Components in DB: Table '" + db.name() +
                         ".Components' doesn't exist\n");
    EXPECT_EQ(r.out, r.err);
}

// Started by a caller that closed 0, 1 and 2: no file or connection may
// take their numbers and receive the messages.
TEST_F(UpdateRun, ClosedStandardDescriptorsReceiveNothing) {
    FakeDpkgQuery dpkg(sandbox, "");
    const std::string semaphoreFile = sandbox.productRoot() + "/var/utilities.sem";
    for (const bool tableThere : {true, false}) {
        if (!tableThere) db.exec("DROP TABLE Components");  // the run ends with a message
        ToolRun closed = toolRun({});
        closed.closeStandardStreams = true;
        Outcome r = runTool(sandbox, closed);
        EXPECT_EQ(r.status, tableThere ? 0 : 1) << tableThere;
        EXPECT_EQ(readWholeFile(semaphoreFile), "") << tableThere;
        if (tableThere) {
            EXPECT_EQ(componentRows(db).size(), 34u);
        }
    }
}

// The time-out (the run's own timer) or a signal while a program hangs
// ends every process the run started: a hung dpkg-query, and a vendor tool
// whose own children keep its pipe open, one in its group, one in a session
// of its own, one left to the run by a child that ended. Nothing is
// written, only the time-out is counted; the run ends with status 1 at its
// time-out and dies by any other signal, a SIGALRM from outside included.
// What the run's caller started lives on: a wrapper's hundreds of jobs, and
// one orphaned while the run goes on. A caller's ignored SIGCHLD or blocked
// signals change nothing. Killed outright, the tool's programs die with it;
// a wrapped tool's run then ends the rest itself.
TEST_F(UpdateRun, TimeOutOrSignalEndsWhatTheRunStartedAndNothingElse) {
    const std::string cfPath = sandbox.root() + "/cf", jobs = sandbox.root() + "/jobs";
    const std::string orphan = sandbox.root() + "/orphan", dpkgQuery = "#!/bin/sh\necho $$ > " + pidFile() +
                                                                     "\nexec sleep 1000\n";
    const std::string stuckTool = "#!/bin/sh\nsleep 1000 & a=$!\nsetsid sleep 1000 & b=$!\n"
                                  "c=$(sh -c 'setsid sleep 1000 >/dev/null & echo $!')\necho $$ $a $b $c > " +
                                  pidFile() + "\nwait\n";
    const int jobCount = 200, timer = 0;
    const std::string wrapper = "i=0; while [ $i -lt " + std::to_string(jobCount) + " ]; do sleep 1000 & echo $! >> " +
                                jobs + "; i=$((i + 1)); done\nsh -c 'sleep 1000 & echo $$ $! > " + orphan +
                                "; while [ ! -e " + pidFile() + " ]; do sleep 0.01; done' &";
    const struct {
        const char* before;  // verstally_fails (null: absent)
        const char* after;
        bool inVendorTool;
        int signal;             // timer: the run's own timer
        bool wrapped, hostile;  // started by `wrapper`; ToolRun::hostileSignals
    } cases[] = {
        {nullptr, "1", false, timer, false, false}, {"3", "4", false, timer, false, true},
        {"", "1", false, timer, true, false},       {nullptr, "1", true, timer, true, false},
        {"3", "3", true, SIGTERM, true, false},     {"3", "3", false, SIGINT, true, false},
        {"3", "3", false, SIGHUP, true, false},     {"3", "3", true, SIGQUIT, false, false},
        {"3", "3", false, SIGUSR1, true, false},    {"3", "3", true, SIGUSR2, false, false},
        {"3", "3", false, SIGALRM, true, false},    {"3", "3", true, SIGKILL, false, false},
        {"3", "3", true, SIGKILL, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.inVendorTool ? "vendor tool " : "dpkg-query ") +
                     (c.signal == timer ? "time-out" : sigabbrev_np(c.signal)) + (c.wrapped ? ", wrapped" : "") +
                     (c.hostile ? ", hostile" : ""));
        db.exec("DELETE FROM misc");
        if (c.before != nullptr)
            db.exec(std::string("INSERT INTO misc VALUES ('verstally_fails', '") + c.before + "')");
        for (const std::string& file : {pidFile(), jobs, orphan}) unlink(file.c_str());
        FakeDpkgQuery dpkg(sandbox, "");
        if (c.inVendorTool) {
            sandbox.writeFile(cfPath + "/bin/cfinfo", stuckTool, 0755);
            db.exec("INSERT INTO misc VALUES ('cf_instance_type', 'standard'), ('cf_instance_path', '" + cfPath + "')");
        } else {
            sandbox.writeFile(DPKG_QUERY_PATH, dpkgQuery, 0755);
        }
        ToolRun run = toolRun({});
        run.wrapper = c.wrapped ? wrapper : "";
        run.hostileSignals = c.hostile;
        const std::string out = sandbox.root() + "/t.out", err = sandbox.root() + "/t.err";
        const int tool = startTool(sandbox, run, out, err);
        const std::vector<pid_t> started = pidsWritten(pidFile());
        // The caller's job is orphaned once the run's program runs.
        std::vector<pid_t> made = c.wrapped ? pidsWritten(orphan) : std::vector<pid_t>{1, 1};
        made.resize(2, 0);
        const bool sent = !started.empty() && made[1] != 0 && (!c.wrapped || endsSoon(made[0])) &&
                          (c.signal == timer ? strikeRunTimer(tool) : kill(tool, c.signal) == 0);
        if (!sent) kill(tool, SIGKILL);
        Outcome r = collectChild(tool, out, err);
        ASSERT_TRUE(sent) << r.err;
        const std::string said = c.signal == timer     ? "timeout"
                                 : c.signal == SIGKILL ? ""
                                                       : std::string("ended by SIG") + sigabbrev_np(c.signal);
        EXPECT_EQ(r.exited, c.signal == timer);
        EXPECT_EQ(r.status, c.signal == timer ? 1 : c.signal);
        // The run's own process of a wrapped tool killed outright may say
        // that it ended after the tool is gone, or not yet.
        if (c.signal != SIGKILL || !c.wrapped) {
            EXPECT_EQ(r.err, said.empty() ? "" : "verstally: Verstally " + said + "\n");
            EXPECT_EQ(r.out, r.err);
        }
        EXPECT_EQ(db.scalar("SELECT val FROM misc WHERE param = 'verstally_fails'"), c.after);
        EXPECT_TRUE(componentRows(db).empty());
        // Of a tool killed outright, only its own program is sure to end.
        for (std::size_t i = 0; i < started.size(); ++i) {
            EXPECT_TRUE((i > 0 && c.signal == SIGKILL && !c.wrapped) || endsSoon(started[i])) << started[i];
            if (started[i] != 0) kill(started[i], SIGKILL);
        }
        std::vector<pid_t> callers = c.wrapped ? pidsWritten(jobs) : std::vector<pid_t>{};
        callers.push_back(made[1]);
        int alive = 0;
        for (pid_t job : callers) alive += job > 1 && kill(job, SIGKILL) == 0;
        EXPECT_EQ(alive, c.wrapped ? jobCount + 1 : 0) << "the caller's own jobs were ended";
    }
}

}  // namespace
