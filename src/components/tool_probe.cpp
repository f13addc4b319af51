#include "components/tool_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"
#include "util/child_process.h"

namespace vonta {

namespace {

// The tool runs as root: only root, or the user it runs as, may own what
// decides which program that is.
bool safeOwner(const struct stat& st) { return st.st_uid == 0 || st.st_uid == geteuid(); }

bool safeDirectory(const std::string& directory) {
    struct stat st;
    if (lstat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !safeOwner(st)) return false;
    // In a sticky directory only an entry's owner may rename or remove it,
    // and the entry below is checked in its turn.
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
}

}  // namespace

bool toolPresent(const char* path, const char* label, std::string& executable) {
    // The canonical path has no links left, so once every directory on it
    // is safe nobody but root can change what it names before the exec.
    char* canonical = realpath(path, nullptr);
    if (canonical == nullptr) return false;
    executable = canonical;
    std::free(canonical);

    struct stat st;
    bool safe = lstat(executable.c_str(), &st) == 0 && (st.st_mode & TOOL_MODE_MASK) == TOOL_MODE_REQUIRED &&
                safeOwner(st) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    for (std::size_t slash = 0; safe && slash != std::string::npos; slash = executable.find('/', slash + 1))
        safe = safeDirectory(slash == 0 ? std::string("/") : executable.substr(0, slash));
    if (!safe) {
        // No system call failed: the message must not carry a stale reason.
        errno = 0;
        fatal_error("Bad file permissions on %s %s\n", label, path);
    }
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
    if (pipe2(fds, O_CLOEXEC) != 0) fatal_error("Unable to open pipe: %s\n", std::strerror(errno));
    fds[0] = moveAbove2(fds[0]);
    fds[1] = moveAbove2(fds[1]);
    if (fds[0] < 0 || fds[1] < 0) fatal_error("Unable to open pipe: %s\n", std::strerror(errno));
}

namespace {

// In a child whose 0, 1 and 2 are set up: every other descriptor goes but
// the close-on-exec status pipe, so the tool inherits nothing of the run.
void closeAllButStatusPipe(int statusWrite) {
    for (int fd = 3; fd < statusWrite; ++fd) close(fd);
    closeDescriptorsFrom(statusWrite + 1);
}

// Tells the parent, through the status pipe, that the tool did not start;
// the child then ends with its message.
int tellNotStarted(int statusWrite, int error) {
    const char failed = 1;
    ssize_t ignored = write(statusWrite, &failed, 1);
    (void)ignored;
    errno = error;
    return error;
}

[[noreturn]] void runInChild(const char* executable, const char* argv0, const char* argument, int input, int output,
                             const char* directory, int statusWrite) {
    if (directory != nullptr && chdir(directory) != 0) {
        const int error = tellNotStarted(statusWrite, errno);
        fatal_error("Unable to change directory to %s: %s\n", directory, std::strerror(error));
    }
    close(0);
    close(1);
    close(2);
    if ((input >= 0 && dup2(input, 0) < 0) || dup2(output, 1) < 0 || dup2(output, 2) < 0) {
        const int error = tellNotStarted(statusWrite, errno);
        fatal_error("Unable to duplicate a file descriptor: %s\n", std::strerror(error));
    }
    closeAllButStatusPipe(statusWrite);
    execl(executable, argv0, argument, static_cast<char*>(nullptr));
    const int error = tellNotStarted(statusWrite, errno);
    fatal_error("Unable to exec program %s: %s\n", executable, std::strerror(error));
}

}  // namespace

StartedTool startTool(const char* executable, const char* argv0, const char* argument, int input, int output,
                      const char* directory) {
    int status[2];
    openToolPipe(status);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) fatal_error("Unable to create child: %s\n", std::strerror(errno));
    if (child == 0) {
        // A group of its own, so that ending the tool ends what it started.
        setpgid(0, 0);
        runInChild(executable, argv0, argument, input, output, directory, status[1]);
    }
    registerWaitedChild(child);
    close(status[1]);
    return {child, status[0]};
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
        fatal_error("Unable to read program output: %s\n", std::strerror(errno));
    }
    close(fd);
    return kept;
}

void waitForTool(pid_t child) {
    int status;
    while (waitpid(child, &status, WUNTRACED) < 0) {
        if (errno != EINTR) {
            unregisterWaitedChild(child);
            fatal_error("Error occured during exec program: %s\n", std::strerror(errno));
        }
        childWaitInterrupted();
    }
    unregisterWaitedChild(child);
}

}  // namespace vonta
