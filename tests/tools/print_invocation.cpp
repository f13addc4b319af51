// A stand-in vendor tool: prints how it was started, as one line
// "Version: argv0|arg1|...|cwd" on standard output.
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    std::printf("Version: ");
    for (int i = 0; i < argc; ++i) std::printf("%s|", argv[i]);
    char cwd[4096];
    std::printf("%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    return 0;
}
