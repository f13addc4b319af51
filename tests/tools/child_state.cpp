// A program that says what it was started with, one line for each
// argument, in the order given:
//   identity     "uid R/E gid R/E groups G..."
//   signals      "blocked: N..." and "ignored: N..." ("none" when empty)
//   process      "own group: yes|no, parent death: N"
//   descriptors  "input: null device|other, beyond 2: N..."
// Executed directly by the tests (no shell between, which would change
// what it inherited).
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::string listed(const std::string& numbers) { return numbers.empty() ? " none" : numbers; }

void identity() {
    gid_t groups[64];
    const int count = getgroups(64, groups);
    std::printf("uid %d/%d gid %d/%d groups", static_cast<int>(getuid()), static_cast<int>(geteuid()),
                static_cast<int>(getgid()), static_cast<int>(getegid()));
    for (int i = 0; i < count; ++i) std::printf(" %d", static_cast<int>(groups[i]));
    std::printf("\n");
}

void signals() {
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    std::string blocked, ignored;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action;
        if (sigismember(&mask, signal) == 1) blocked += " " + std::to_string(signal);
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            ignored += " " + std::to_string(signal);
    }
    std::printf("blocked:%s\nignored:%s\n", listed(blocked).c_str(), listed(ignored).c_str());
}

void process() {
    int death = 0;
    prctl(PR_GET_PDEATHSIG, &death);
    std::printf("own group: %s, parent death: %d\n", getpgrp() == getpid() ? "yes" : "no", death);
}

void descriptors() {
    struct stat st;
    const bool null = fstat(0, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3);
    std::string beyond;
    for (int fd = 3; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) beyond += " " + std::to_string(fd);
    std::printf("input: %s, beyond 2:%s\n", null ? "null device" : "other", listed(beyond).c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "identity") == 0) identity();
        if (std::strcmp(argv[i], "signals") == 0) signals();
        if (std::strcmp(argv[i], "process") == 0) process();
        if (std::strcmp(argv[i], "descriptors") == 0) descriptors();
    }
    return 0;
}
