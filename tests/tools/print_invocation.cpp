// A stand-in vendor tool: prints how it was started, as one line
// "Version: argv0|arg1|...|cwd" on standard output, followed by "|fd N" for
// every descriptor above 2 that it inherited.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    std::printf("Version: ");
    for (int i = 0; i < argc; ++i) std::printf("%s|", argv[i]);
    char cwd[4096];
    std::printf("%s", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    for (int fd = 3; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) std::printf("|fd %d", fd);
    std::printf("\n");
    return 0;
}
