#include "util/child_process.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/identity.h"
#include "env/messages.h"
#include "env/safe_point.h"
#include "util/exceptions.h"
#include "util/waited_children.h"

extern char** environ;

namespace {

void closeRange(int first, int last) {
    if (last < first) return;
#ifdef __linux__
    if (close_range(static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0) return;
#endif
    const int limit = getdtablesize();
    for (int fd = first; fd <= last && fd < limit; ++fd) close(fd);
}

// The environment a child gets: the process's own, or a copy of it with the
// added entries in place of those of the same name. Built in the parent, so
// that the child only executes.
class ChildEnvironment {
public:
    explicit ChildEnvironment(const std::map<std::string, std::string>* added) {
        if (added == nullptr || added->empty()) return;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const char* equals = std::strchr(*entry, '=');
            const std::string name(*entry, equals != nullptr ? static_cast<std::size_t>(equals - *entry) : 0);
            if (added->count(name) == 0) kept_.push_back(*entry);
        }
        for (const auto& entry : *added) owned_.push_back(entry.first + "=" + entry.second);
        for (auto& text : owned_) kept_.push_back(&text[0]);
        kept_.push_back(nullptr);
    }
    char* const* get() const { return kept_.empty() ? environ : kept_.data(); }

private:
    std::vector<std::string> owned_;
    std::vector<char*> kept_;
};

// The caller's standard descriptors for the child. One that lies in 0 to 2
// but is not its own target is copied above 2 first, so that setting one
// standard descriptor of the child cannot overwrite the source of another.
class StandardSources {
public:
    StandardSources(int input, int output, int error) : fds{input, output, error} {
        for (int target = 0; target <= 2; ++target) {
            if (fds[target] < 0 || fds[target] > 2 || fds[target] == target) continue;
            copies_[target] = fcntl(fds[target], F_DUPFD_CLOEXEC, 3);
            if (copies_[target] < 0) throwSystemError("forkExecvPipes: fcntl() failed", errno);
            fds[target] = copies_[target];
        }
    }
    ~StandardSources() {
        for (int copy : copies_)
            if (copy >= 0) close(copy);
    }
    StandardSources(const StandardSources&) = delete;
    StandardSources& operator=(const StandardSources&) = delete;

    int fds[3];

private:
    int copies_[3] = {-1, -1, -1};
};

// A descriptor the parent opens for a start, above 2 (so that setting the
// child's standard descriptors cannot overwrite it), closed on exec.
class StartDescriptor {
public:
    StartDescriptor() = default;
    ~StartDescriptor() {
        if (fd >= 0) close(fd);
    }
    StartDescriptor(const StartDescriptor&) = delete;
    StartDescriptor& operator=(const StartDescriptor&) = delete;
    bool open(const char* path, int flags) {
        const int opened = ::open(path, flags | O_CLOEXEC | O_NOCTTY);
        if (opened < 0 || opened > 2) {
            fd = opened;
            return fd >= 0;
        }
        fd = fcntl(opened, F_DUPFD_CLOEXEC, 3);
        const int error = errno;
        close(opened);
        errno = error;
        return fd >= 0;
    }
    int fd = -1;
};

// What the parent prepares so that the child only makes system calls:
// /dev/null opened once (and checked to be the null device, so that its
// failure is named as its own), the directory opened, the account looked
// up. False with `failure` filled when one of them cannot be had.
bool prepareStart(const ChildStart& start, StartDescriptor& devNull, StartDescriptor& directory,
                  AccountIdentity& identity, StartError& failure) {
    if (start.input < 0 || start.output < 0 || start.error < 0) {
        struct stat st;
        if (!devNull.open(DEV_NULL, O_RDWR)) {
            failure = {StartStep::DevNull, errno, false, DEV_NULL};
            return false;
        }
        if (fstat(devNull.fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != makedev(1, 3)) {
            failure = {StartStep::DevNull, ENODEV, false, DEV_NULL};
            return false;
        }
    }
    if (start.directory != nullptr && !directory.open(start.directory, O_RDONLY | O_DIRECTORY)) {
        failure = {StartStep::Directory, errno, false, start.directory};
        return false;
    }
    if (start.user != static_cast<uid_t>(-1) && !look_up_account(start.user, identity)) {
        failure = {StartStep::Identity, errno, false, "getpwuid"};
        return false;
    }
    return true;
}

// Every signal held while a child is created and registered: the child
// shares the parent's memory until it executes its program, so no handler
// may run in it before it has put every signal back to its default; and the
// run's orphan reaper must not take the new child's end for an orphan's.
class AllSignalsHeld {
public:
    AllSignalsHeld() {
        sigset_t every;
        sigfillset(&every);
        sigprocmask(SIG_SETMASK, &every, &previous_);
    }
    ~AllSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    AllSignalsHeld(const AllSignalsHeld&) = delete;
    AllSignalsHeld& operator=(const AllSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// The identity call that failed in a child.
enum class IdentityCall { None, SetGroups, SetGid, SetUid };

const char* identityCallName(IdentityCall call) {
    switch (call) {
        case IdentityCall::SetGroups: return "setgroups";
        case IdentityCall::SetGid: return "setgid";
        case IdentityCall::SetUid: return "setuid";
        case IdentityCall::None: break;
    }
    return "";
}

// What a child that could not become its program leaves for the parent, in
// the memory they share until the child executes or exits.
struct StartReport {
    StartStep step = StartStep::None;
    int error = 0;
    IdentityCall call = IdentityCall::None;
};

// All a child needs, prepared by the parent, so that the child only makes
// system calls.
struct ChildPlan {
    const char* path;
    char* const* argv;
    char* const* environment;
    int source[3];       // the descriptors to put on 0, 1 and 2
    int directory;       // -1: the working directory stays
    const AccountIdentity* identity;  // null: the user stays
    pid_t parent;        // who started it, when the child dies with it; 0: it does not
};

// The calls that take 32-bit ids, where the plain ones take 16 bits.
#ifdef SYS_setgroups32
constexpr long SET_GROUPS_CALL = SYS_setgroups32;
constexpr long SET_GROUP_CALL = SYS_setresgid32;
constexpr long SET_USER_CALL = SYS_setresuid32;
#else
constexpr long SET_GROUPS_CALL = SYS_setgroups;
constexpr long SET_GROUP_CALL = SYS_setresgid;
constexpr long SET_USER_CALL = SYS_setresuid;
#endif

// The signal a child gets when the thread that started it ends: a run
// killed outright leaves no program of its own running.
constexpr int PARENT_DEATH_SIGNAL = SIGKILL;

// Whether children die with the thread that started them.
bool bound_to_starter = false;

// The child's side of a start, in this order; never returns:
//  1. every signal back to its default action, then none blocked (they
//     were all blocked by the parent, so no handler ran in between);
//  2. a process group of its own;
//  3. the standard descriptors, close-on-exec cleared;
//  4. the working directory;
//  5. the account's groups, group and user (system calls only: the C
//     library's wrappers would act on every thread of a threaded parent);
//  6. where asked for, death with its parent, set after the change of
//     identity, which clears it, and checked against a parent that may
//     have died already;
//  7. nothing beyond descriptor 2;
//  8. the program.
// A failure is left in `report`, and the child exits.
[[noreturn]] void becomeProgram(const ChildPlan& plan, StartReport& report) {
    struct sigaction standard;
    std::memset(&standard, 0, sizeof standard);
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setpgid(0, 0);

    for (int target = 0; target <= 2; ++target) {
        const bool placed = plan.source[target] == target ? fcntl(target, F_SETFD, 0) == 0
                                                          : dup2(plan.source[target], target) == target;
        if (!placed) {
            report = {StartStep::Exec, errno, IdentityCall::None};
            _exit(127);
        }
    }
    if (plan.directory >= 0 && fchdir(plan.directory) != 0) {
        report = {StartStep::Directory, errno, IdentityCall::None};
        _exit(127);
    }
    if (plan.identity != nullptr) {
        const AccountIdentity& id = *plan.identity;
        IdentityCall failed = IdentityCall::None;
        if (syscall(SET_GROUPS_CALL, id.groups.size(), id.groups.data()) != 0)
            failed = IdentityCall::SetGroups;
        else if (syscall(SET_GROUP_CALL, id.group, id.group, id.group) != 0)
            failed = IdentityCall::SetGid;
        else if (syscall(SET_USER_CALL, id.user, id.user, id.user) != 0)
            failed = IdentityCall::SetUid;
        if (failed != IdentityCall::None) {
            report = {StartStep::Identity, errno, failed};
            _exit(127);
        }
    }
    // A parent that died already would never send the signal; nobody is
    // left to read the report either.
    if (plan.parent != 0 && (prctl(PR_SET_PDEATHSIG, PARENT_DEATH_SIGNAL) != 0 || getppid() != plan.parent))
        _exit(127);
    closeRange(3, INT_MAX);
    execve(plan.path, plan.argv, plan.environment);
    report = {StartStep::Exec, errno, IdentityCall::None};
    _exit(127);
}

// Creates the child that becomes the program. It shares this process's
// memory and this process waits, as with vfork, until it has executed the
// program or failed: nothing is copied, which keeps a start at the cost of
// the program's own. Kept apart, so that the child runs in a frame of its
// own below this one.
__attribute__((noinline)) pid_t createChild(const ChildPlan& plan, StartReport& report) {
    const pid_t child = vfork();
    if (child == 0) becomeProgram(plan, report);
    return child;
}

}  // namespace

void bindChildrenToStarter() { bound_to_starter = true; }

pid_t startChild(const ChildStart& start, StartError& failure) {
    failure = StartError();
    safe_point();
    const ChildEnvironment environment(start.environment);
    const StandardSources sources(start.input, start.output, start.error);
    StartDescriptor devNull;
    StartDescriptor directory;
    AccountIdentity identity;
    if (!prepareStart(start, devNull, directory, identity, failure)) return -1;
    int source[3];
    for (int target = 0; target <= 2; ++target) source[target] = sources.fds[target] >= 0 ? sources.fds[target] : devNull.fd;

    const ChildPlan plan = {start.path,
                            start.argv->data(),
                            environment.get(),
                            {source[0], source[1], source[2]},
                            directory.fd,
                            start.user != static_cast<uid_t>(-1) ? &identity : nullptr,
                            bound_to_starter ? getpid() : 0};
    StartReport report;
    const AllSignalsHeld held;
    const pid_t child = createChild(plan, report);
    if (child < 0) throwSystemError("forkExecvPipes: fork() failed", errno);
    if (report.step != StartStep::None) {
        // The child has exited; its end is this start's, not an orphan's.
        int status;
        waitpid(child, &status, 0);
        failure.step = report.step;
        failure.error = report.error;
        if (report.step == StartStep::Identity) failure.cause = identityCallName(report.call);
        if (report.step == StartStep::Directory) failure.cause = start.directory;
        explainExecFailure(start.path, failure);
        return -1;
    }
    if (!registerWaitedChild(child)) {
        // A child that the time-out could not end must not run at all.
        kill(child, SIGKILL);
        int status;
        waitpid(child, &status, 0);
        throwSystemError("forkExecvPipes: fork() failed", EAGAIN);
    }
    return child;
}

bool waitForChild(pid_t child, int& status) {
    if (takeReapedChild(child, status)) return true;
    const pid_t result = wait_through_interrupts([&] { return waitpid(child, &status, 0); });
    // The run's orphan reaper may have come first.
    if (result < 0 && errno == ECHILD && takeReapedChild(child, status)) return true;
    const int error = errno;
    unregisterWaitedChild(child);
    errno = error;
    return result >= 0;
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

void closeDescriptorsFrom3() { closeRange(3, getdtablesize() - 1); }

namespace {

// The library's exception for a start that failed at `failure`'s step.
[[noreturn]] void throwStartError(const StartError& failure) {
    if (failure.step == StartStep::DevNull) throwSystemError("dup2Custom failed", failure.error);
    if (failure.step == StartStep::Identity) throwSystemError("forkExecvPipes: setuid() failed", failure.error);
    throwSystemError("forkExecvPipes: execv() failed", failure.error);
}

}  // namespace

pid_t forkExecvPipes(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                     uid_t user, const std::map<std::string, std::string>& environment) {
    ChildStart start;
    start.path = path.c_str();
    start.argv = &argv;
    start.input = input;
    start.output = output;
    start.error = error;
    start.user = user;
    start.environment = &environment;
    StartError failure;
    const pid_t child = startChild(start, failure);
    if (child < 0) throwStartError(failure);
    // The caller waits for it.
    unregisterWaitedChild(child);
    return child;
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

// The exit code of a reaped child; -1 when it was ended by a signal or
// cannot be waited for.
int reap(pid_t child) {
    int status = 0;
    if (!waitForChild(child, status) || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int runCollecting(std::string& output, std::string& error, const std::string& path, const std::vector<char*>& argv,
                  uid_t user, const std::map<std::string, std::string>& environment, StartError* startFailure) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        fatal_error("forkExecvGetOutErr: pipe() failed");
    if (fcntl(outPipe[0], F_SETFL, O_NONBLOCK) != 0 || fcntl(errPipe[0], F_SETFL, O_NONBLOCK) != 0)
        fatal_error("forkExecvGetOutErr: fcntl(O_NONBLOCK) failed");

    ChildStart start;
    start.path = path.c_str();
    start.argv = &argv;
    start.output = outPipe[1];
    start.error = errPipe[1];
    start.user = user;
    start.environment = &environment;
    StartError failure;
    pid_t child;
    try {
        child = startChild(start, failure);
    } catch (...) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        throw;
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (child < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        if (startFailure != nullptr)
            *startFailure = failure;
        else if (failure.step == StartStep::DevNull || failure.step == StartStep::Identity)
            throwStartError(failure);
        const std::string said = message_line("forkExecvPipes: execv() failed", failure.error);
        output += said;
        error += said;
        return 1;
    }

    // A closed end stays in the set as -1, which poll passes over.
    struct pollfd ends[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* const into[2] = {&output, &error};
    try {
        while (ends[0].fd >= 0 || ends[1].fd >= 0) {
            if (wait_through_interrupts([&ends] { return poll(ends, 2, -1); }) < 0)
                throwSystemError("forkExecvGetOutErr: select() failed", errno);
            for (int i = 0; i < 2; ++i) {
                if (ends[i].fd < 0 || ends[i].revents == 0 || readToString(ends[i].fd, *into[i])) continue;
                close(ends[i].fd);
                ends[i].fd = -1;
            }
        }
    } catch (...) {
        // Leave nothing behind: no open pipe, no unreaped child.
        for (const auto& end : ends)
            if (end.fd >= 0) close(end.fd);
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
                           const std::vector<char*>& argv, StartError& failure) {
    failure = StartError();
    return runCollecting(output, error, path, argv, static_cast<uid_t>(-1), emptyEnvironment(), &failure);
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
