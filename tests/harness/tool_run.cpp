#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness/sandbox.h"

namespace {

[[noreturn]] void setUpFailed(const std::string& what) {
    childFailed("tool run: " + what + ": " + std::strerror(errno));
}

// The built tool where any account can reach it, whatever the modes of the
// directories above the build tree: bound, in the calling process's mount
// namespace, onto a file in the sandbox directory (mode 0755).
std::string reachableTool(const Sandbox& sandbox) {
    const std::string dir = sandbox.root() + "/.tool", path = dir + "/verstally";
    mkdir(dir.c_str(), 0755);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
    if (fd < 0) setUpFailed("create " + path);
    close(fd);
    if (mount(VERSTALLY_TOOL_PATH, path.c_str(), nullptr, MS_BIND, nullptr) != 0) setUpFailed("bind " + path);
    return path;
}

// The child half of startTool; never returns.
[[noreturn]] void execTool(const Sandbox& sandbox, const ToolRun& run, const std::string& outPath,
                           const std::string& errPath) {
    redirectInChild(0, "/dev/null", O_RDONLY);
    redirectInChild(1, outPath, O_WRONLY | O_CREAT | O_TRUNC);
    redirectInChild(2, errPath, O_WRONLY | O_CREAT | O_TRUNC);
    sandbox.enter();
    if (run.maxProcesses >= 0) {
        struct rlimit limit = {static_cast<rlim_t>(run.maxProcesses), static_cast<rlim_t>(run.maxProcesses)};
        if (setrlimit(RLIMIT_NPROC, &limit) != 0) setUpFailed("process limit");
    }
    const std::string binary = VERSTALLY_TOOL_PATH;
    std::string executable = binary;
    if (run.uid != 0 || run.gid != 0) {
        executable = reachableTool(sandbox);
        if (setgroups(0, nullptr) != 0 || setgid(run.gid) != 0 || setuid(run.uid) != 0) setUpFailed("identity");
    }
    std::vector<std::string> args;
    args.push_back(run.argv0.empty() ? binary : run.argv0);
    args.insert(args.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    if (!run.noArguments)
        for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    for (const auto& entry : run.env) envText.push_back(entry.first + "=" + entry.second);
    std::vector<char*> envp;
    for (auto& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    if (run.closeStandardStreams)
        for (int fd = 0; fd <= 2; ++fd) close(fd);
    if (run.hostileSignals) {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int signal : {SIGALRM, SIGCHLD, SIGTERM}) sigaddset(&blocked, signal);
        if (signal(SIGCHLD, SIG_IGN) == SIG_ERR || sigprocmask(SIG_BLOCK, &blocked, nullptr) != 0)
            setUpFailed("signals");
    }
    std::string script = run.wrapper + "\nexec \"$0\" \"$@\"", shell = "/bin/sh";
    if (!run.wrapper.empty()) {
        // The shell's $0 names the tool in place of its own argv[0].
        argv[0] = executable.data();
        argv.insert(argv.begin(), {const_cast<char*>("sh"), const_cast<char*>("-c"), script.data()});
    }
    execve(run.wrapper.empty() ? executable.c_str() : shell.c_str(), argv.data(), envp.data());
    setUpFailed("exec " + executable);
}

}  // namespace

int startTool(const Sandbox& sandbox, const ToolRun& run, const std::string& outPath, const std::string& errPath) {
    return startChild([&] { execTool(sandbox, run, outPath, errPath); });
}

Outcome runTool(const Sandbox& sandbox, const ToolRun& run) {
    const std::string outPath = captureFile("out");
    const std::string errPath = captureFile("err");
    return collectChild(startTool(sandbox, run, outPath, errPath), outPath, errPath);
}
