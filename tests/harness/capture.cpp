#include "harness/capture.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

namespace {
std::string tempFile(const char* tag) {
    std::string pattern = std::string("/var/tmp/verstally-capture-") + tag + ".XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    return pattern;
}
}  // namespace

Outcome collectChild(int pid, const std::string& outPath, const std::string& errPath) {
    Outcome result;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    result.out = readWholeFile(outPath);
    result.err = readWholeFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return result;
}

Outcome captureInChild(const std::function<void()>& body) {
    std::string outPath = tempFile("out");
    std::string errPath = tempFile("err");
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_TRUNC);
        int err = open(errPath.c_str(), O_WRONLY | O_TRUNC);
        dup2(out, 1);
        dup2(err, 2);
        close(out);
        close(err);
        body();
        std::fflush(nullptr);
        _exit(0);
    }
    return collectChild(pid, outPath, errPath);
}
