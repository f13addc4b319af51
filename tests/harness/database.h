#ifndef VERSTALLY_TESTS_HARNESS_DATABASE_H
#define VERSTALLY_TESTS_HARNESS_DATABASE_H

#include <functional>
#include <map>
#include <mysql.h>
#include <optional>
#include <string>
#include <vector>

#include "harness/capture.h"

class Sandbox;

/// How to reach the private MariaDB server that the test run started
/// (tests/harness/mariadb-fixture start), read from the facts file
/// <VERSTALLY_TEST_STATE_DIR>/mariadb.facts, whose lines are
/// "socket=<path>", "port=<n>", "pid=<n>", "login=admin", "password=<text>".
struct DatabaseFacts {
    std::string socket;    // the server's unix socket (a short path)
    unsigned port = 0;     // its TCP port on 127.0.0.1
    long pid = 0;          // the server process
    std::string login;     // "admin": rights on all databases
    std::string password;  // admin's password: the password file's content
};

/// The facts of the running server; throws std::runtime_error when the
/// facts file is missing (the test was run without the `mariadb` fixture).
const DatabaseFacts& databaseFacts();
/// The facts file of a server the fixture started elsewhere.
DatabaseFacts readDatabaseFacts(const std::string& path);

/// One result row; a NULL column is std::nullopt.
using DbRow = std::vector<std::optional<std::string>>;

/// A root connection of the test itself, through the server's socket, for
/// setting up data and checking what the code under test did. Every failure
/// throws std::runtime_error with the statement and the server's text.
/// Never use one in a forked child: closing it there would end the
/// parent's session too.
class RootConnection {
public:
    /// Connects as root, with `database` selected when not empty.
    explicit RootConnection(const std::string& database = "");
    ~RootConnection();
    RootConnection(const RootConnection&) = delete;
    RootConnection& operator=(const RootConnection&) = delete;

    /// Runs a statement that returns no rows.
    void exec(const std::string& sql);
    /// Runs a statement and returns all of its rows.
    std::vector<DbRow> query(const std::string& sql);
    /// First column of the first row; nullopt when there is no row or NULL.
    std::optional<std::string> scalar(const std::string& sql);
    /// `text` as a quoted SQL string literal.
    std::string quote(const std::string& text);
    MYSQL* handle() const { return mysql_; }

private:
    MYSQL* mysql_;
};

/// A fresh database of its own (name "vt_<pid>_<n>", so that tests running
/// side by side cannot collide) with sql/schema.sql loaded, dropped when
/// the object ends. Its root connection has the database selected.
class TestDatabase {
public:
    TestDatabase();
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& name() const { return name_; }
    RootConnection& root() { return root_; }

    void exec(const std::string& sql) { root_.exec(sql); }
    std::vector<DbRow> query(const std::string& sql) { return root_.query(sql); }
    std::optional<std::string> scalar(const std::string& sql) { return root_.scalar(sql); }

    /// Environment that sends the panel code to this database through the
    /// server's socket: ZEV_DB_NAME and MYSQL_UNIX_PORT.
    std::map<std::string, std::string> socketEnv() const;
    /// The same over TCP: ZEV_DB_NAME, ZEV_DB_HOST=127.0.0.1, ZEV_DB_PORT.
    std::map<std::string, std::string> tcpEnv() const;

    /// Statements that sessions opened on this database sent to the server
    /// (general log) containing `marker`, oldest first; the log queries
    /// themselves are left out.
    std::vector<std::string> statementsMentioning(const std::string& marker);

private:
    std::string name_;
    RootConnection root_;
};

/// Writes the admin password file (/etc/zev/.zev.shadow) into the sandbox:
/// the fixture's password followed by `suffix` (e.g. "\n").
void writePasswordFile(const Sandbox& sandbox, const std::string& suffix = "");

/// Runs library code in a captured child inside `sandbox`, as the program
/// "verstally", with the database environment `env` (see applyDatabaseEnv).
Outcome runWithDatabase(const Sandbox& sandbox, const std::map<std::string, std::string>& env,
                        const std::function<void()>& body);

/// For in-process library code: the number of other sessions of the admin
/// login on the database of `own` (a connection of the code under test),
/// after giving closed ones time to leave the server's list; "<none>" when
/// the question fails.
std::string otherAdminSessions(MYSQL* own);

/// For in-process library code (inside runInSandbox): clears ZEV_DB_HOST,
/// ZEV_DB_PORT, ZEV_DB_NAME, ZEV_DB_LOGIN, ZEV_RUN_MODE and MYSQL_UNIX_PORT,
/// then sets the variables of `env`.
void applyDatabaseEnv(const std::map<std::string, std::string>& env);

/// A TCP socket bound (not listening) to a free port on 127.0.0.1, whose
/// number goes to `port`; throws std::runtime_error naming `what`.
int bindLoopbackPort(unsigned& port, const char* what);
/// A unix socket bound (not listening) at `path` in a new directory `dir`
/// under /var/tmp (mode 0755); throws std::runtime_error naming `what`.
int bindUnixSocket(std::string& dir, std::string& path, const char* what);

/// A server that is down: a TCP port on 127.0.0.1 and a unix socket under
/// /var/tmp, both bound but not listening, so every connection is refused
/// at once. Held while the object lives (no other process can take them).
class DeadServer {
public:
    DeadServer();
    ~DeadServer();
    DeadServer(const DeadServer&) = delete;
    DeadServer& operator=(const DeadServer&) = delete;

    unsigned port() const { return port_; }
    /// Path of the dead socket (it is a socket file: stat says S_ISSOCK).
    const std::string& socketPath() const { return socketPath_; }
    /// Environment for the dead port: ZEV_DB_NAME=`database`,
    /// ZEV_DB_HOST=127.0.0.1, ZEV_DB_PORT.
    std::map<std::string, std::string> tcpEnv(const std::string& database = "zev") const;

private:
    int tcp_ = -1;
    int unix_ = -1;
    unsigned port_ = 0;
    std::string dir_;
    std::string socketPath_;
};

#endif
