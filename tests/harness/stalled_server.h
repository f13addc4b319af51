#ifndef VERSTALLY_TESTS_HARNESS_STALLED_SERVER_H
#define VERSTALLY_TESTS_HARNESS_STALLED_SERVER_H

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "harness/database.h"

/// A database server that accepts connections on 127.0.0.1 and then says
/// nothing more than `greeting` (with "" it never even accepts: the kernel
/// completes the connection, nobody answers). Held while the object lives.
class StalledListener {
public:
    explicit StalledListener(const std::string& greeting = "");
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    /// ZEV_DB_NAME, ZEV_DB_HOST=127.0.0.1 and ZEV_DB_PORT of the listener.
    std::map<std::string, std::string> tcpEnv() const;

private:
    int listening_ = -1;
    unsigned port_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<int> accepted_;
    std::thread acceptor_;
};

/// The start of a server greeting: a packet header announcing 80 bytes,
/// then the protocol version and part of the server version, no more.
std::string partialGreeting();

/// A second private server of its own (started with mariadb-fixture in a
/// fresh state directory), stopped with SIGSTOP once it runs; resumed and
/// shut down when the object ends.
class StoppedServer {
public:
    StoppedServer();
    ~StoppedServer();
    StoppedServer(const StoppedServer&) = delete;
    StoppedServer& operator=(const StoppedServer&) = delete;

    /// Environment for its socket: ZEV_DB_NAME=zev and MYSQL_UNIX_PORT.
    std::map<std::string, std::string> socketEnv() const;

private:
    std::string state_;
    DatabaseFacts facts_;
};

#endif
