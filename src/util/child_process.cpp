#include "util/child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"
#include "util/exceptions.h"

namespace {

void (*waitInterruptHook)() = nullptr;
volatile sig_atomic_t waitedChildren[MAX_WAITED_CHILDREN] = {};

void interrupted() { childWaitInterrupted(); }

void closeIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Waits for the child, absorbing interruptions; -1 on failure or a signal.
int reap(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            unregisterWaitedChild(child);
            return -1;
        }
        interrupted();
    }
    unregisterWaitedChild(child);
    if (!WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

void setChildWaitInterruptHook(void (*hook)()) { waitInterruptHook = hook; }

void childWaitInterrupted() {
    if (waitInterruptHook != nullptr) waitInterruptHook();
}

void registerWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren) {
        if (slot == 0) {
            slot = static_cast<sig_atomic_t>(child);
            return;
        }
    }
}

void unregisterWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren)
        if (slot == static_cast<sig_atomic_t>(child)) slot = 0;
}

void reapWaitedChildren() {
    for (auto& slot : waitedChildren) {
        pid_t child = static_cast<pid_t>(slot);
        if (child <= 0) continue;
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        slot = 0;
    }
}

void signalWaitedChildren(int signal) {
    for (auto& slot : waitedChildren) {
        pid_t child = static_cast<pid_t>(slot);
        if (child > 0) kill(child, signal);
    }
}

int dup2Custom(int source, int target) {
    if (source == target) return source;
    if (source == -1) {
        source = open(DEV_NULL, O_RDWR);
        if (source < 0) throwSystemError("dup2Custom failed", errno);
    }
    int result = dup2(source, target);
    close(source);
    return result;
}

void closeDescriptorsFrom3() {
    int limit = getdtablesize();
    if (limit <= 3) return;
#ifdef __linux__
    if (close_range(3, static_cast<unsigned>(limit - 1), 0) == 0) return;
#endif
    for (int fd = 3; fd < limit; ++fd) close(fd);
}

pid_t forkExecvPipes(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                     uid_t user, const std::map<std::string, std::string>& environment) {
    // Buffered output must not be written twice, once by each process.
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) throwSystemError("forkExecvPipes: fork() failed", errno);
    if (child > 0) return child;

    dup2Custom(input, 0);
    dup2Custom(output, 1);
    dup2Custom(error, 2);
    closeDescriptorsFrom3();
    if (user != static_cast<uid_t>(-1) && setuid(user) != 0)
        throwSystemError("forkExecvPipes: setuid() failed", errno);
    for (const auto& entry : environment) {
        if (setenv(entry.first.c_str(), entry.second.c_str(), 1) != 0)
            throwSystemError("forkExecvPipes: setenv() falied", errno);
    }
    execv(path.c_str(), argv.data());
    report_error(1, "forkExecvPipes: execv() failed");
    std::_Exit(1);  // not reached: report_error ends the child
}

bool readToString(int fd, std::string& destination) {
    char buffer[READ_CHUNK_SIZE];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            destination.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        throwSystemError("readToString failed", errno);
    }
}

int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user,
                       const std::map<std::string, std::string>& environment) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) report_error(1, "forkExecvGetOutErr: pipe() failed");
    if (pipe2(errPipe, O_CLOEXEC) != 0) report_error(1, "forkExecvGetOutErr: pipe() failed");
    if (fcntl(outPipe[0], F_SETFL, O_NONBLOCK) != 0 || fcntl(errPipe[0], F_SETFL, O_NONBLOCK) != 0)
        report_error(1, "forkExecvGetOutErr: fcntl(O_NONBLOCK) failed");

    int outRead = outPipe[0];
    int errRead = errPipe[0];
    const pid_t self = getpid();
    pid_t child;
    try {
        child = forkExecvPipes(-1, outPipe[1], errPipe[1], path, argv, user, environment);
    } catch (...) {
        if (getpid() == self) {
            close(outPipe[0]);
            close(outPipe[1]);
            close(errPipe[0]);
            close(errPipe[1]);
        }
        throw;
    }
    registerWaitedChild(child);
    close(outPipe[1]);
    close(errPipe[1]);

    // poll has no limit on descriptor numbers, unlike a fixed select set.
    try {
        while (outRead >= 0 || errRead >= 0) {
            struct pollfd fds[2];
            nfds_t count = 0;
            int outSlot = -1;
            int errSlot = -1;
            if (outRead >= 0) {
                outSlot = static_cast<int>(count);
                fds[count++] = {outRead, POLLIN, 0};
            }
            if (errRead >= 0) {
                errSlot = static_cast<int>(count);
                fds[count++] = {errRead, POLLIN, 0};
            }
            bool outReady;
            bool errReady;
            if (poll(fds, count, -1) < 0) {
                if (errno != EINTR) throwSystemError("forkExecvGetOutErr: select() failed", errno);
                interrupted();
                // Every open end is read; the reads return at once when empty.
                outReady = outRead >= 0;
                errReady = errRead >= 0;
            } else {
                outReady = outSlot >= 0 && fds[outSlot].revents != 0;
                errReady = errSlot >= 0 && fds[errSlot].revents != 0;
            }
            if (outReady && !readToString(outRead, output)) closeIfOpen(outRead);
            if (errReady && !readToString(errRead, error)) closeIfOpen(errRead);
        }
    } catch (...) {
        // Leave nothing behind: no open pipe, no unreaped child.
        closeIfOpen(outRead);
        closeIfOpen(errRead);
        kill(child, SIGKILL);
        reap(child);
        throw;
    }
    return reap(child);
}

namespace {
const std::map<std::string, std::string>& emptyEnvironment() {
    static const std::map<std::string, std::string> empty;
    return empty;
}
}  // namespace

int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user) {
    return forkExecvGetOutErr(output, error, path, argv, user, emptyEnvironment());
}

int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv) {
    return forkExecvGetOutErr(output, error, path, argv, static_cast<uid_t>(-1));
}

int forkExecvGetOutErr(std::string& output, const std::string& path, const std::vector<char*>& argv) {
    std::string error;
    return forkExecvGetOutErr(output, error, path, argv);
}
