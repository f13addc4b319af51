#include "components/tool_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"
#include "util/child_process.h"

namespace vonta {

bool toolPresent(const char* path, const char* badPermissionsFormat) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    if ((st.st_mode & TOOL_MODE_MASK) != TOOL_MODE_REQUIRED) report_error(1, badPermissionsFormat, path);
    return true;
}

namespace {
int moveAbove2(int fd) {
    if (fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}
}  // namespace

void openToolPipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) report_error(1, "Unable to open pipe: %s\n", std::strerror(errno));
    fds[0] = moveAbove2(fds[0]);
    fds[1] = moveAbove2(fds[1]);
    if (fds[0] < 0 || fds[1] < 0) report_error(1, "Unable to open pipe: %s\n", std::strerror(errno));
}

pid_t forkTool() {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) report_error(1, "Unable to create child: %s\n", std::strerror(errno));
    if (child > 0) registerWaitedChild(child);
    // A group of its own, so that ending the tool ends what it started.
    if (child == 0) setpgid(0, 0);
    return child;
}

void tellToolNotStarted(int statusWrite) {
    const char failed = 1;
    ssize_t ignored = write(statusWrite, &failed, 1);
    (void)ignored;
}

void execToolOrReport(const char* path, const char* argv0, const char* argument, int statusWrite) {
    execl(path, argv0, argument, static_cast<char*>(nullptr));
    const int error = errno;
    tellToolNotStarted(statusWrite);
    errno = error;
    report_error(1, "Unable to exec program %s: %s\n", path, std::strerror(error));
    _exit(1);  // not reached: report_error ends the child
}

bool toolStarted(int statusRead) {
    char byte;
    ssize_t got;
    while ((got = read(statusRead, &byte, 1)) < 0 && errno == EINTR) childWaitInterrupted();
    close(statusRead);
    return got == 0;
}

std::size_t readToolOutput(int fd, char* buffer, std::size_t size) {
    std::size_t kept = 0;
    char discard[READ_CHUNK_SIZE];
    for (;;) {
        char* target = kept < size ? buffer + kept : discard;
        std::size_t room = kept < size ? size - kept : sizeof discard;
        ssize_t got = read(fd, target, room);
        if (got > 0) {
            if (kept < size) kept += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) break;
        if (errno == EINTR) {
            childWaitInterrupted();
            continue;
        }
        report_error(1, "Unable to read program output: %s\n", std::strerror(errno));
    }
    close(fd);
    return kept;
}

void waitForTool(pid_t child) {
    int status;
    while (waitpid(child, &status, WUNTRACED) < 0) {
        if (errno != EINTR) {
            unregisterWaitedChild(child);
            report_error(1, "Error occured during exec program: %s\n", std::strerror(errno));
        }
        childWaitInterrupted();
    }
    unregisterWaitedChild(child);
}

}  // namespace vonta
