#include "harness/capture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The outcomes kept for a failing test's report (tests run children from
// several threads).
constexpr std::size_t MAX_COLLECTED = 20;
std::mutex collectedLock;
std::vector<Outcome> collected;
std::size_t collectedLeftOut = 0;

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

Outcome collectChild(int pid, const std::string& outPath, const std::string& errPath) {
    Outcome result;
    int status = 0;
    pid_t waited;
    do waited = waitpid(pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    const int waitError = errno;
    result.out = readWholeFile(outPath);
    result.err = readWholeFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    if (waited < 0) throw std::runtime_error("waitpid " + std::to_string(pid) + ": " + std::strerror(waitError));
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    std::lock_guard<std::mutex> hold(collectedLock);
    if (collected.size() == MAX_COLLECTED) {
        collected.erase(collected.begin());
        ++collectedLeftOut;
    }
    collected.push_back(result);
    return result;
}

std::vector<Outcome> takeCollectedOutcomes(std::size_t& leftOut) {
    std::lock_guard<std::mutex> hold(collectedLock);
    leftOut = collectedLeftOut;
    collectedLeftOut = 0;
    std::vector<Outcome> taken;
    taken.swap(collected);
    return taken;
}

bool hasEnded(int pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

int startChild(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid > 0) return pid;
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
