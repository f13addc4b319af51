#include "util/waited_children.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"

namespace {

volatile sig_atomic_t waitedChildren[MAX_WAITED_CHILDREN] = {};

long long nowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool allDigits(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

// The parent pid in the stat line of process `pid`, -1 when unreadable. The
// command name in parentheses may hold anything: the fields follow the last
// ')'.
pid_t parentOf(const char* pid) {
    char path[64];
    std::snprintf(path, sizeof path, PROC_STAT_FORMAT, pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char line[TEXT_BUFFER_SIZE];
    const ssize_t got = read(fd, line, sizeof line - 1);
    close(fd);
    if (got <= 0) return -1;
    line[got] = '\0';
    const char* end = std::strrchr(line, ')');
    int parent = -1;
    if (end == nullptr || std::sscanf(end + 1, " %*c %d", &parent) != 1) return -1;
    return parent;
}

// Kills every live child of this process: those the kernel lists for its
// thread when it keeps such a list, else every process whose parent it is.
// False when neither can be read.
bool killLiveChildren() {
    const pid_t self = getpid();
    char path[64];
    std::snprintf(path, sizeof path, PROC_CHILDREN_FORMAT, static_cast<int>(self), static_cast<int>(self));
    if (FILE* list = std::fopen(path, "re")) {
        int child;
        while (std::fscanf(list, "%d", &child) == 1) kill(child, SIGKILL);
        std::fclose(list);
        return true;
    }
    DIR* processes = opendir(PROC_DIR);
    if (processes == nullptr) return false;
    while (const dirent* entry = readdir(processes))
        if (allDigits(entry->d_name) && parentOf(entry->d_name) == self) kill(std::atoi(entry->d_name), SIGKILL);
    closedir(processes);
    return true;
}

}  // namespace

void registerWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren) {
        if (slot == 0) {
            slot = static_cast<sig_atomic_t>(child);
            return;
        }
    }
    // The run goes on, but a time-out could not end this child at once.
    warn_message("Too many children at once: child %d cannot be ended by the time-out", static_cast<int>(child));
}

void unregisterWaitedChild(pid_t child) {
    for (auto& slot : waitedChildren)
        if (slot == static_cast<sig_atomic_t>(child)) slot = 0;
}

void signalWaitedChildren(int signal) {
    for (auto& slot : waitedChildren) {
        const pid_t child = static_cast<pid_t>(slot);
        // The whole group: what the child started too.
        if (child > 0 && kill(-child, signal) != 0) kill(child, signal);
    }
}

void endEveryChild() {
    signalWaitedChildren(SIGKILL);
    const long long deadline = nowMs() + CHILD_END_BOUND_MS;
    for (;;) {
        // What has ended is reaped; what it leaves running becomes this
        // process's child and is found in the next round.
        pid_t ended;
        int status;
        while ((ended = waitpid(-1, &status, WNOHANG)) > 0) unregisterWaitedChild(ended);
        if (ended < 0 && errno == EINTR) continue;
        if (ended < 0 || !killLiveChildren() || nowMs() >= deadline) break;
        const struct timespec pause = {0, 2 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    for (auto& slot : waitedChildren) slot = 0;
}
