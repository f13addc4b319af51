// Runs a command as the demo and the benchmarks need it: in a sandbox of
// the tests (harness/sandbox.h) that holds a panel configuration whose
// product root is the sandbox's own (its tmp/ the panel account's), the
// sandbox's accounts and the panel account, and the password of a private
// MariaDB server (harness/private_server.h) with the panel tables, which
// MYSQL_UNIX_PORT and ZEV_DB_NAME name. The command starts in the sandbox
// directory; the server and the directory go when it ends.
//
//   in_sandbox COMMAND [ARG...]
//
// The exit status is the command's (128 + N when signal N ended it); 125
// when the sandbox cannot be made or entered, 127 when the command cannot
// be run.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/accounts.h"
#include "harness/private_server.h"

int main(int argc, char* argv[]) {
    childFailurePrefix = "in_sandbox";
    if (argc < 2) {
        std::fprintf(stderr, "usage: in_sandbox COMMAND [ARG...]\n");
        return 2;
    }
    int status = 125;
    try {
        const Sandbox sandbox;
        sandbox.writeProductConf();
        writeAccountFiles(sandbox);
        if (chown((sandbox.productRoot() + "/tmp").c_str(), FIXTURE_UID, FIXTURE_GID) != 0)
            throw std::runtime_error(std::string("chown: ") + std::strerror(errno));
        const std::string state = sandbox.root() + "/db";
        const DatabaseFacts db = startPrivateServer(state, VERSTALLY_SCHEMA_PATH, getpid());
        sandbox.writeFile(ADMIN_PASSWORD_FILE, db.password, 0600);
        setenv(ENV_MYSQL_UNIX_PORT, db.socket.c_str(), 1);
        setenv(ENV_DB_NAME, "zev", 1);
        // As system() does: an interrupt from the terminal is the command's
        // to act on; this process cleans up after it.
        signal(SIGINT, SIG_IGN);
        signal(SIGQUIT, SIG_IGN);
        const pid_t pid = fork();
        if (pid == 0) {
            signal(SIGINT, SIG_DFL);
            signal(SIGQUIT, SIG_DFL);
            if (chdir(sandbox.root().c_str()) != 0) childFailed("chdir " + sandbox.root());
            sandbox.enter();
            execvp(argv[1], argv + 1);
            std::fprintf(stderr, "in_sandbox: %s: %s\n", argv[1], std::strerror(errno));
            _exit(127);
        }
        int waited = 0;
        while (pid > 0 && waitpid(pid, &waited, 0) < 0 && errno == EINTR) {
        }
        if (pid > 0) status = WIFEXITED(waited) ? WEXITSTATUS(waited) : 128 + WTERMSIG(waited);
        stopPrivateServer(state);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "in_sandbox: %s\n", e.what());
    }
    return status;
}
