#ifndef VERSTALLY_TESTS_HARNESS_STALLED_SERVER_H
#define VERSTALLY_TESTS_HARNESS_STALLED_SERVER_H

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

/// A database server that stalls: on 127.0.0.1 it accepts connections and
/// then says nothing more than `greeting` (with "" it never even accepts:
/// the kernel completes the connection, nobody answers); its unix socket
/// listens and never accepts, as a stopped server's does. Held while the
/// object lives.
class StalledListener {
public:
    explicit StalledListener(const std::string& greeting = "");
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    /// ZEV_DB_NAME, ZEV_DB_HOST=127.0.0.1 and ZEV_DB_PORT of the listener.
    std::map<std::string, std::string> tcpEnv() const;
    /// ZEV_DB_NAME and MYSQL_UNIX_PORT of the unix socket.
    std::map<std::string, std::string> socketEnv() const;

private:
    int listening_ = -1;
    int unix_ = -1;
    unsigned port_ = 0;
    std::string dir_;
    std::string socketPath_;
    std::atomic<bool> stopping_{false};
    std::vector<int> accepted_;
    std::thread acceptor_;
};

/// The start of a server greeting: a packet header announcing 80 bytes,
/// then the protocol version and part of the server version, no more.
std::string partialGreeting();

#endif
