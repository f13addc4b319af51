// A stand-in vendor tool: prints how it was started, as one line
// "Version: argv0|arg1|...|cwd" on standard output, followed by whatever of
// its start is not clean: "|fd N" for every descriptor above 2 that it
// inherited, "|input not /dev/null", "|blocked N" and "|ignored N" for each
// signal so, "|no parent-death signal", "|not a group leader". Executed
// directly (a shell between would reset some of it).
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    std::printf("Version: ");
    for (int i = 0; i < argc; ++i) std::printf("%s|", argv[i]);
    char cwd[4096];
    std::printf("%s", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    for (int fd = 3; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) std::printf("|fd %d", fd);
    struct stat input;
    if (fstat(0, &input) != 0 || !S_ISCHR(input.st_mode) || input.st_rdev != makedev(1, 3))
        std::printf("|input not /dev/null");
    sigset_t mask;
    sigprocmask(SIG_BLOCK, nullptr, &mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action;
        if (sigismember(&mask, signal) == 1) std::printf("|blocked %d", signal);
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) std::printf("|ignored %d", signal);
    }
    int death = 0;
    if (prctl(PR_GET_PDEATHSIG, &death) != 0 || death == 0) std::printf("|no parent-death signal");
    if (getpgrp() != getpid()) std::printf("|not a group leader");
    std::printf("\n");
    return 0;
}
