// A stand-in vendor tool: prints its argument vector and working directory,
// "argv0|arg1|...|cwd", on one line to standard output.
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    for (int i = 0; i < argc; ++i) std::printf("%s|", argv[i]);
    char cwd[4096];
    std::printf("%s\n", getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    return 0;
}
