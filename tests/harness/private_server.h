#ifndef VERSTALLY_TESTS_HARNESS_PRIVATE_SERVER_H
#define VERSTALLY_TESTS_HARNESS_PRIVATE_SERVER_H

#include <string>
#include <sys/types.h>
#include <vector>

/// How to reach a private server: its facts file <state>/mariadb.facts holds
/// the lines "socket=<path>", "port=<n>" and "password=<admin's password>".
struct DatabaseFacts {
    std::string socket;  // the server's unix socket
    unsigned port = 0;   // its TCP port on 127.0.0.1
    std::string password;
};

/// Starts a throw-away MariaDB server whose state lives in `stateDir` (made
/// when absent; a server it still records is stopped first): run as root,
/// with no option file read, on a socket of its own and a free port of
/// 127.0.0.1, `options` added to its command line; the schema file `schema`
/// loaded into database "zev"; root allowed in over the socket without a
/// password, and the login "admin" allowed everything from anywhere with
/// the facts' password. The facts are also written to the state directory.
/// A keeper process ends the server (its data thrown away) at
/// stopPrivateServer or once the process `owner` is gone, whichever comes
/// first. Throws std::runtime_error, with the server's log, on failure.
DatabaseFacts startPrivateServer(const std::string& stateDir, const std::string& schema, pid_t owner,
                                 const std::vector<std::string>& options = {});
/// Ends the server that `stateDir` records, if any, and waits until it has.
void stopPrivateServer(const std::string& stateDir);
/// A server's facts file; throws std::runtime_error when it is missing or
/// incomplete.
DatabaseFacts readDatabaseFacts(const std::string& path);

#endif
