// Runs a command inside a sandbox directory that a script made, as the
// tests run the tool inside theirs (tests/harness/sandbox.h).
//
//   in_sandbox [--panel-account] DIR COMMAND [ARG...]
//
// --panel-account: unless DIR/etc/passwd is there already, the accounts
// are the sandbox's own plus the tests' panel account. A failure to enter
// ends with status 125, a command that cannot be run with 127.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "harness/accounts.h"

int main(int argc, char* argv[]) {
    childFailurePrefix = "in_sandbox";
    int first = 1;
    const bool panelAccount = argc > 1 && std::strcmp(argv[1], "--panel-account") == 0;
    if (panelAccount) ++first;
    if (argc - first < 2) {
        std::fprintf(stderr, "usage: in_sandbox [--panel-account] DIR COMMAND [ARG...]\n");
        return 2;
    }
    try {
        const Sandbox sandbox(argv[first]);
        struct stat st;
        if (panelAccount && stat(sandbox.layerPath("/etc/passwd").c_str(), &st) != 0) writeAccountFiles(sandbox);
        sandbox.enter();
    } catch (const std::exception& e) {
        childFailed(e.what());
    }
    execvp(argv[first + 1], argv + first + 1);
    std::fprintf(stderr, "in_sandbox: %s: %s\n", argv[first + 1], std::strerror(errno));
    return 127;
}
