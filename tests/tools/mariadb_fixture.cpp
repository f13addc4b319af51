// The test run's private MariaDB server (harness/private_server.h), as
// ctest's fixture starts and stops it:
//
//   mariadb_fixture start STATE-DIR SCHEMA   the server ends with ctest at the latest
//   mariadb_fixture stop STATE-DIR
#include <cstdio>
#include <cstring>
#include <exception>
#include <unistd.h>

#include "harness/private_server.h"

int main(int argc, char* argv[]) {
    try {
        if (argc == 4 && std::strcmp(argv[1], "start") == 0) {
            const DatabaseFacts facts = startPrivateServer(argv[2], argv[3], getppid());
            std::printf("mariadb_fixture: a server on %s and 127.0.0.1:%u\n", facts.socket.c_str(), facts.port);
            return 0;
        }
        if (argc == 3 && std::strcmp(argv[1], "stop") == 0) {
            stopPrivateServer(argv[2]);
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mariadb_fixture: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: mariadb_fixture start STATE-DIR SCHEMA | stop STATE-DIR\n");
    return 2;
}
