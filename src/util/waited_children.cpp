#include "util/waited_children.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"

namespace {

// A registered child; `ended` and `status` are set by the reaper.
struct WaitedChild {
    volatile sig_atomic_t pid;
    volatile sig_atomic_t ended;
    volatile sig_atomic_t status;
};
WaitedChild waitedChildren[MAX_WAITED_CHILDREN] = {};

void noteEnded(pid_t pid, int status) {
    for (auto& slot : waitedChildren) {
        if (slot.pid != pid || slot.ended != 0) continue;
        slot.status = status;
        slot.ended = 1;
    }
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

void reapEndedChildren(int) {
    const int saved = errno;
    int status;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) noteEnded(pid, status);
    errno = saved;
}

int runningWaitedChildren() {
    int running = 0;
    for (const auto& slot : waitedChildren) running += slot.pid > 0 && slot.ended == 0;
    return running;
}
