#include "util/waited_children.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"
#include "env/safe_point.h"

namespace {

// A registered child; `ended` and `status` are set by the reaper.
struct WaitedChild {
    volatile sig_atomic_t pid;
    volatile sig_atomic_t ended;
    volatile sig_atomic_t status;
};
WaitedChild waitedChildren[MAX_WAITED_CHILDREN] = {};

// A process by pid and start time (clock ticks since boot), which no
// later process with the same pid shares.
struct KnownProcess {
    pid_t pid;
    unsigned long long start;
};
// The children the process had when the run began, and the moment it
// began; a start of 0 means no run has begun.
KnownProcess callersChildren[MAX_CALLERS_CHILDREN];
std::size_t callersChildCount = 0;
unsigned long long runStart = 0;

void noteEnded(pid_t pid, int status) {
    for (auto& slot : waitedChildren) {
        if (slot.pid != pid || slot.ended != 0) continue;
        slot.status = status;
        slot.ended = 1;
    }
}

void reapEndedChildren(int) {
    const int saved = errno;
    int status;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) noteEnded(pid, status);
    errno = saved;
}

bool allDigits(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

// The parent and start time in the stat line of process `pid`; false when
// unreadable. The command name in parentheses may hold anything: the
// fields follow the last ')'.
bool readStat(const char* pid, pid_t& parent, unsigned long long& start) {
    char path[64];
    std::snprintf(path, sizeof path, PROC_STAT_FORMAT, pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char line[TEXT_BUFFER_SIZE];
    const ssize_t got = read(fd, line, sizeof line - 1);
    close(fd);
    if (got <= 0) return false;
    line[got] = '\0';
    const char* end = std::strrchr(line, ')');
    int parentPid = -1;
    // Fields 3 to 22: state, parent, ..., start time.
    if (end == nullptr || std::sscanf(end + 1, " %*c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d "
                                               "%*d %*d %llu",
                                      &parentPid, &start) != 2)
        return false;
    parent = parentPid;
    return true;
}

// Calls `visit(pid, start)` for every live child of this process: those
// the kernel lists for its thread when it keeps such a list, else every
// process whose parent it is. False when neither can be read.
template <typename Visit>
bool forEachChild(Visit visit) {
    const pid_t self = getpid();
    char path[64];
    std::snprintf(path, sizeof path, PROC_CHILDREN_FORMAT, static_cast<int>(self), static_cast<int>(self));
    if (FILE* list = std::fopen(path, "re")) {
        int child;
        while (std::fscanf(list, "%d", &child) == 1) {
            char name[16];
            std::snprintf(name, sizeof name, "%d", child);
            pid_t parent;
            unsigned long long start = 0;
            // A child that is gone by now has no start time: 0 marks that.
            if (!readStat(name, parent, start)) start = 0;
            visit(static_cast<pid_t>(child), start);
        }
        std::fclose(list);
        return true;
    }
    DIR* processes = opendir(PROC_DIR);
    if (processes == nullptr) return false;
    while (const dirent* entry = readdir(processes)) {
        pid_t parent;
        unsigned long long start;
        if (allDigits(entry->d_name) && readStat(entry->d_name, parent, start) && parent == self)
            visit(static_cast<pid_t>(std::atoi(entry->d_name)), start);
    }
    closedir(processes);
    return true;
}

bool isCallers(pid_t pid, unsigned long long start) {
    if (runStart == 0 || start == 0) return false;
    if (start < runStart) return true;
    for (std::size_t i = 0; i < callersChildCount; ++i)
        if (callersChildren[i].pid == pid && callersChildren[i].start == start) return true;
    return false;
}

// Kills every live child of this process that the run started (or
// inherited from what it started); the number killed, -1 when the children
// cannot be found.
int killRunChildren() {
    int killed = 0;
    const bool found = forEachChild([&killed](pid_t pid, unsigned long long start) {
        if (isCallers(pid, start)) return;
        kill(pid, SIGKILL);
        ++killed;
    });
    return found ? killed : -1;
}

int registeredRunning() {
    int running = 0;
    for (const auto& slot : waitedChildren) running += slot.pid > 0 && slot.ended == 0;
    return running;
}

// Clock ticks since boot, as /proc gives start times.
unsigned long long ticksSinceBoot() {
    struct timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    const long perSecond = sysconf(_SC_CLK_TCK);
    const unsigned long long ns = static_cast<unsigned long long>(now.tv_sec) * 1000000000ull +
                                  static_cast<unsigned long long>(now.tv_nsec);
    return perSecond > 0 ? ns / (1000000000ull / static_cast<unsigned long long>(perSecond)) : 0;
}

}  // namespace

bool registerWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren) {
        if (slot.pid == 0) {
            slot.ended = 0;
            slot.pid = static_cast<sig_atomic_t>(child);
            return true;
        }
    }
    return false;
}

void unregisterWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren)
        if (slot.pid == static_cast<sig_atomic_t>(child)) slot.pid = 0;
}

bool takeReapedChild(pid_t child, int& status) {
    for (auto& slot : waitedChildren) {
        if (slot.pid != static_cast<sig_atomic_t>(child) || slot.ended == 0) continue;
        status = slot.status;
        slot.pid = 0;
        return true;
    }
    return false;
}

void signalWaitedChildren(int signal) {
    for (const auto& slot : waitedChildren) {
        const pid_t child = static_cast<pid_t>(slot.pid);
        // The whole group: what the child started too.
        if (child > 0 && slot.ended == 0 && kill(-child, signal) != 0) kill(child, signal);
    }
}

void beginRunChildren() {
    runStart = ticksSinceBoot();
    callersChildCount = 0;
    forEachChild([](pid_t pid, unsigned long long start) {
        if (callersChildCount < MAX_CALLERS_CHILDREN) callersChildren[callersChildCount++] = {pid, start};
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = reapEndedChildren;
    sigemptyset(&action.sa_mask);
    // Restarted, so that an orphan's end interrupts no read of the run.
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (sigaction(SIGCHLD, &action, nullptr) != 0) fatal_error("Unable to reap the run's children");
    // Zombies from before the handler.
    reapEndedChildren(SIGCHLD);
    // Whatever way the run ends (a fatal message while a tool still runs,
    // say), nothing it started outlives it.
    std::atexit(endEveryChild);
}

void endEveryChild() {
    signalWaitedChildren(SIGKILL);
    const long long deadline = monotonic_ms() + CHILD_END_BOUND_MS;
    for (;;) {
        // What has ended is reaped; what it leaves running becomes this
        // process's child and is found in the next round.
        pid_t ended;
        int status;
        while ((ended = waitpid(-1, &status, WNOHANG)) > 0) noteEnded(ended, status);
        if (ended < 0 && errno == EINTR) continue;
        int left = killRunChildren();
        if (left < 0) left = registeredRunning();
        if (left == 0 || monotonic_ms() >= deadline) break;
        const struct timespec pause = {0, 2 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    for (auto& slot : waitedChildren) slot.pid = 0;
}
