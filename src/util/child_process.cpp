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
    // The child puts itself into a group of its own as well; whichever comes
    // first wins the race against the exec.
    setpgid(child, child);
    for (auto& slot : waitedChildren) {
        if (slot == 0) {
            slot = static_cast<sig_atomic_t>(child);
            return;
        }
    }
    // The run goes on, but a time-out could not end this child.
    const int saved_errno = errno;
    errno = 0;
    report_error(0, "Too many children at once: child %d cannot be ended by the time-out", static_cast<int>(child));
    errno = saved_errno;
}

void unregisterWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren)
        if (slot == static_cast<sig_atomic_t>(child)) slot = 0;
}

namespace {

// Sends `signal` to the child's whole group (what it started too), or to the
// child alone when it has no group of its own yet. Async-signal-safe.
void signalGroup(pid_t child, int signal) {
    if (kill(-child, signal) != 0) kill(child, signal);
}

}  // namespace

void reapWaitedChildren() {
    for (auto& slot : waitedChildren) {
        pid_t child = static_cast<pid_t>(slot);
        if (child <= 0) continue;
        signalGroup(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        // Members of its group that this process inherited as the run's
        // subreaper are reaped too, so that none is left behind.
        while (waitpid(-child, nullptr, 0) > 0 || errno == EINTR) {
        }
        slot = 0;
    }
}

void signalWaitedChildren(int signal) {
    for (auto& slot : waitedChildren) {
        pid_t child = static_cast<pid_t>(slot);
        if (child > 0) signalGroup(child, signal);
    }
}

int dup2Custom(int source, int target) {
    // Already in place, as when the caller had `target` closed: dup2 would
    // do nothing, so the close-on-exec flag of a pipe end must go here.
    if (source == target) {
        int flags = fcntl(source, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) != 0) fcntl(source, F_SETFD, flags & ~FD_CLOEXEC);
        return source;
    }
    if (source == -1) {
        source = open(DEV_NULL, O_RDWR);
        if (source < 0) throwSystemError("dup2Custom failed", errno);
    }
    int result = dup2(source, target);
    const int error = errno;
    close(source);
    if (result < 0) throwSystemError("dup2Custom failed", error);
    return result;
}

void closeDescriptorsFrom(int first) {
    int limit = getdtablesize();
    if (limit <= first) return;
#ifdef __linux__
    if (close_range(static_cast<unsigned>(first), static_cast<unsigned>(limit - 1), 0) == 0) return;
#endif
    for (int fd = first; fd < limit; ++fd) close(fd);
}

void closeDescriptorsFrom3() { closeDescriptorsFrom(3); }

namespace {

// Starts the child; when `statusWrite` is a close-on-exec pipe end, a failed
// exec writes its errno there before the child reports and exits, so that
// the parent can tell "could not be started" from an exit status.
pid_t startChild(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                 uid_t user, const std::map<std::string, std::string>& environment, int statusWrite) {
    // Buffered output must not be written twice, once by each process.
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) throwSystemError("forkExecvPipes: fork() failed", errno);
    if (child > 0) return child;

    // A group of its own, so that ending the child ends what it started.
    setpgid(0, 0);
    // The status pipe must survive the rearranging below: it goes to 3
    // (still close-on-exec), the rest from 4 up is closed.
    if (statusWrite >= 0 && statusWrite <= 2) statusWrite = fcntl(statusWrite, F_DUPFD_CLOEXEC, 3);
    dup2Custom(input, 0);
    dup2Custom(output, 1);
    dup2Custom(error, 2);
    if (statusWrite >= 0) {
        if (statusWrite != 3 && dup3(statusWrite, 3, O_CLOEXEC) == 3) statusWrite = 3;
        closeDescriptorsFrom(statusWrite == 3 ? 4 : 3);
    } else {
        closeDescriptorsFrom(3);
    }
    if (user != static_cast<uid_t>(-1) && setuid(user) != 0)
        throwSystemError("forkExecvPipes: setuid() failed", errno);
    for (const auto& entry : environment) {
        if (setenv(entry.first.c_str(), entry.second.c_str(), 1) != 0)
            throwSystemError("forkExecvPipes: setenv() falied", errno);
    }
    execv(path.c_str(), argv.data());
    if (statusWrite >= 0) {
        const int execError = errno;
        ssize_t ignored = write(statusWrite, &execError, sizeof execError);
        (void)ignored;
        errno = execError;
    }
    fatal_error("forkExecvPipes: execv() failed");
}

// The errno of a failed exec from the status pipe, 0 when the exec
// succeeded (the pipe closed). Closes `statusRead`.
int readExecError(int statusRead) {
    int execError = 0;
    ssize_t got;
    while ((got = read(statusRead, &execError, sizeof execError)) < 0 && errno == EINTR) interrupted();
    close(statusRead);
    return got == static_cast<ssize_t>(sizeof execError) ? execError : 0;
}

}  // namespace

pid_t forkExecvPipes(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                     uid_t user, const std::map<std::string, std::string>& environment) {
    return startChild(input, output, error, path, argv, user, environment, -1);
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

namespace {

int runCollecting(std::string& output, std::string& error, const std::string& path, const std::vector<char*>& argv,
                  uid_t user, const std::map<std::string, std::string>& environment, int* execError) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) fatal_error("forkExecvGetOutErr: pipe() failed");
    if (pipe2(errPipe, O_CLOEXEC) != 0) fatal_error("forkExecvGetOutErr: pipe() failed");
    if (fcntl(outPipe[0], F_SETFL, O_NONBLOCK) != 0 || fcntl(errPipe[0], F_SETFL, O_NONBLOCK) != 0)
        fatal_error("forkExecvGetOutErr: fcntl(O_NONBLOCK) failed");

    int statusPipe[2] = {-1, -1};
    if (execError != nullptr && pipe2(statusPipe, O_CLOEXEC) != 0)
        fatal_error("forkExecvGetOutErr: pipe() failed");

    int outRead = outPipe[0];
    int errRead = errPipe[0];
    const pid_t self = getpid();
    pid_t child;
    try {
        child = startChild(-1, outPipe[1], errPipe[1], path, argv, user, environment, statusPipe[1]);
    } catch (...) {
        if (getpid() == self) {
            for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1], statusPipe[0], statusPipe[1]})
                if (fd >= 0) close(fd);
        }
        throw;
    }
    registerWaitedChild(child);
    close(outPipe[1]);
    close(errPipe[1]);
    if (execError != nullptr) {
        close(statusPipe[1]);
        *execError = readExecError(statusPipe[0]);
    }

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

const std::map<std::string, std::string>& emptyEnvironment() {
    static const std::map<std::string, std::string> empty;
    return empty;
}

}  // namespace

int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user,
                       const std::map<std::string, std::string>& environment) {
    return runCollecting(output, error, path, argv, user, environment, nullptr);
}

int forkExecvGetOutErrExec(std::string& output, std::string& error, const std::string& path,
                           const std::vector<char*>& argv, int& execError) {
    execError = 0;
    return runCollecting(output, error, path, argv, static_cast<uid_t>(-1), emptyEnvironment(), &execError);
}

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
