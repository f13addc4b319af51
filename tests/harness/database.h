#ifndef VERSTALLY_TESTS_HARNESS_DATABASE_H
#define VERSTALLY_TESTS_HARNESS_DATABASE_H

#include <atomic>
#include <map>
#include <mysql.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness/private_server.h"

class Sandbox;

/// The facts of the test run's server, which ctest's fixture started
/// (<VERSTALLY_TEST_STATE_DIR>/mariadb.facts); throws std::runtime_error
/// when the test was run without the fixture.
const DatabaseFacts& databaseFacts();

/// One result row; a NULL column is std::nullopt.
using DbRow = std::vector<std::optional<std::string>>;

/// A root connection of the test itself through the server's socket. Every
/// failure throws std::runtime_error with the statement and the server's
/// text. Never use one in a forked child: closing it there would end the
/// parent's session too.
class RootConnection {
public:
    /// Connects as root, with `database` selected when not empty, to the
    /// test run's server or the one on `socket`.
    explicit RootConnection(const std::string& database = "", const std::string& socket = "");
    ~RootConnection();
    RootConnection(const RootConnection&) = delete;
    RootConnection& operator=(const RootConnection&) = delete;

    /// Runs a statement; its rows, if any, are dropped.
    void exec(const std::string& sql);
    std::vector<DbRow> query(const std::string& sql);
    /// First column of the first row; nullopt when there is no row or NULL.
    std::optional<std::string> scalar(const std::string& sql);
    /// `text` as a quoted SQL string literal.
    std::string quote(const std::string& text);
    MYSQL* handle() const { return mysql_; }

private:
    MYSQL* mysql_;
};

/// A fresh database of its own ("vt_<pid>_<n>": tests running side by side
/// cannot collide) with the tables of the schema, dropped when the object
/// ends. Its root connection has the database selected.
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

    /// ZEV_DB_NAME and MYSQL_UNIX_PORT: the panel code reaches this
    /// database through the server's socket.
    std::map<std::string, std::string> socketEnv() const;
    /// The same over TCP: ZEV_DB_NAME, ZEV_DB_HOST=127.0.0.1, ZEV_DB_PORT.
    std::map<std::string, std::string> tcpEnv() const;

    /// Statements containing `marker` that sessions opened on this database
    /// sent (the server's general log), oldest first.
    std::vector<std::string> statementsMentioning(const std::string& marker);

private:
    std::string name_;
    RootConnection root_;
};

/// Writes the admin password file (/etc/zev/.zev.shadow) into the sandbox:
/// the fixture's password followed by `suffix` (e.g. "\n").
void writePasswordFile(const Sandbox& sandbox, const std::string& suffix = "");

/// Clears ZEV_DB_HOST, ZEV_DB_PORT, ZEV_DB_NAME, ZEV_DB_LOGIN, ZEV_RUN_MODE
/// and MYSQL_UNIX_PORT, then sets the variables of `env`.
void applyDatabaseEnv(const std::map<std::string, std::string>& env);

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
    /// Path of the socket (stat says S_ISSOCK).
    const std::string& socketPath() const { return socketPath_; }
    /// ZEV_DB_NAME=`database`, ZEV_DB_HOST=127.0.0.1 and ZEV_DB_PORT.
    std::map<std::string, std::string> tcpEnv(const std::string& database = "zev") const;
    /// ZEV_DB_NAME=`database` and MYSQL_UNIX_PORT.
    std::map<std::string, std::string> socketEnv(const std::string& database = "zev") const;

protected:
    int tcp_ = -1;
    int unix_ = -1;
    unsigned port_ = 0;
    std::string dir_;
    std::string socketPath_;
};

/// A server that stalls: both sockets listen. The unix socket never accepts,
/// as a stopped server's does; on TCP, with `greeting` "" the kernel
/// completes the connection and nobody answers, else each connection is
/// accepted, sent `greeting` and then held silent.
class StalledListener : public DeadServer {
public:
    explicit StalledListener(const std::string& greeting = "");
    ~StalledListener();

private:
    std::atomic<bool> stopping_{false};
    std::vector<int> accepted_;
    std::thread acceptor_;
};

/// A stranger in front of the server: a process running as `uid` listens on
/// socketPath() and relays one connection to the server's socket.
struct SocketRelay : DeadServer {
    explicit SocketRelay(uid_t uid);
    ~SocketRelay();  // ends the process
    pid_t pid_ = -1;
};

/// The start of a server greeting: a packet header announcing 80 bytes,
/// then the protocol version and part of the server version, no more.
std::string partialGreeting();

#endif
