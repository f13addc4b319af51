#include "harness/capture.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The test program itself: a child that collects children of its own
// keeps its output as its test expects it.
const pid_t testProgram = getpid();

// Seconds a child of the harness may take before it counts as hung: more
// than any run of the tool takes (its connection bound is 30 s, the grace of
// its time-out 10 s).
constexpr int CHILD_DEADLINE_SECONDS = 120;
// Seconds a hung child has to end what it started once it is asked to.
constexpr int CHILD_END_SECONDS = 10;

// In a child of startChild: the process that started it.
pid_t startedBy = 0;

// Waits up to `seconds` for the child `pid` to end: true when it has, its
// status in `status`. Throws std::runtime_error when it cannot be waited for.
bool endedWithin(pid_t pid, int& status, int seconds) {
    for (int tick = 0; tick < seconds * 1000; ++tick, usleep(1000)) {
        const pid_t waited = waitpid(pid, &status, WNOHANG);
        if (waited == pid) return true;
        if (waited < 0 && errno != EINTR)
            throw std::runtime_error("waitpid " + std::to_string(pid) + ": " + std::strerror(errno));
    }
    return false;
}

// What a child wrote, shown with the test's own output (which ctest prints
// when the test fails), cut to its first kilobytes.
void show(const char* stream, const std::string& text) {
    const int shown = 4096;
    if (!text.empty()) std::printf("  %s: %.*s%s\n", stream, shown, text.c_str(), text.size() > shown ? " ..." : "");
}

}  // namespace

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

std::string captureFile(const char* tag) {
    std::string pattern = std::string("/var/tmp/verstally-capture-") + tag + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp " + pattern + ": " + std::strerror(errno));
    close(fd);
    return pattern;
}

const char* childFailurePrefix = "test child";

[[noreturn]] void childFailed(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", childFailurePrefix, what.c_str());
    std::fflush(nullptr);
    _exit(125);
}

void redirectInChild(int target, const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) childFailed("open " + path + ": " + std::strerror(errno));
    if (fd == target) return;
    if (dup2(fd, target) < 0) childFailed("dup2 " + path + ": " + std::strerror(errno));
    close(fd);
}

int awaitChild(int pid) {
    int status = 0;
    if (endedWithin(pid, status, CHILD_DEADLINE_SECONDS)) return status;
    kill(pid, SIGTERM);
    if (!endedWithin(pid, status, CHILD_END_SECONDS)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    throw std::runtime_error("child " + std::to_string(pid) + " did not end within " +
                             std::to_string(CHILD_DEADLINE_SECONDS) + " s and was ended");
}

Outcome collectChild(int pid, const std::string& outPath, const std::string& errPath) {
    Outcome result;
    int status = 0;
    std::string failure;
    try {
        status = awaitChild(pid);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    result.out = readWholeFile(outPath);
    result.err = readWholeFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    if (!failure.empty()) throw std::runtime_error(failure + "; its standard error: " + result.err.substr(0, 4096));
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    if (getpid() != testProgram) return result;
    std::printf("[ child    ] %s %d\n", result.exited ? "exited with status" : "killed by signal", result.status);
    show("standard output", result.out);
    show("standard error", result.err);
    std::fflush(stdout);
    return result;
}

bool hasEnded(int pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

void dieWithParent() {
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != startedBy) _exit(125);
}

int startChild(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid > 0) return pid;
    startedBy = parent;
    dieWithParent();
    // Nothing may leave the body: the child would carry on in the test
    // binary and run the remaining tests there.
    try {
        body();
    } catch (const std::exception& e) {
        childFailed(std::string("the body threw: ") + e.what());
    } catch (...) {
        childFailed("the body threw");
    }
    std::fflush(nullptr);
    _exit(0);
}

Outcome captureInChild(const std::function<void()>& body) {
    const std::string outPath = captureFile("out");
    const std::string errPath = captureFile("err");
    const int pid = startChild([&] {
        redirectInChild(1, outPath, O_WRONLY | O_TRUNC);
        redirectInChild(2, errPath, O_WRONLY | O_TRUNC);
        body();
    });
    return collectChild(pid, outPath, errPath);
}
