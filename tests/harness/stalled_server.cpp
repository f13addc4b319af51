#include "harness/stalled_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/capture.h"

StalledListener::StalledListener(const std::string& greeting) {
    listening_ = bindLoopbackPort(port_, "stalled listener");
    if (listen(listening_, 64) != 0) throw std::runtime_error(std::string("stalled listener: ") + std::strerror(errno));
    if (greeting.empty()) return;
    acceptor_ = std::thread([this, greeting] {
        for (;;) {
            int client = accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (stopping_ || errno != EINTR) return;
                continue;
            }
            if (stopping_) {
                close(client);
                return;
            }
            ssize_t ignored = write(client, greeting.data(), greeting.size());
            (void)ignored;
            accepted_.push_back(client);  // held open, silent from now on
        }
    });
}

StalledListener::~StalledListener() {
    stopping_ = true;
    if (listening_ >= 0) shutdown(listening_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    for (int fd : accepted_) close(fd);
    if (listening_ >= 0) close(listening_);
}

std::map<std::string, std::string> StalledListener::tcpEnv() const {
    return {{ENV_DB_NAME, "zev"}, {ENV_DB_HOST, "127.0.0.1"}, {ENV_DB_PORT, std::to_string(port_)}};
}

std::string partialGreeting() {
    std::string packet = {80, 0, 0, 0, 10};
    return packet + "10.11";
}

namespace {
std::string fixtureScript() { return std::string(VERSTALLY_SOURCE_DIR) + "/tests/harness/mariadb-fixture"; }
}  // namespace

StoppedServer::StoppedServer() {
    char pattern[] = "/var/tmp/vtstopped.XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error(std::string("stopped server: ") + std::strerror(errno));
    state_ = pattern;
    const std::string start = "'" + fixtureScript() + "' start '" + state_ + "' '" + VERSTALLY_SOURCE_DIR +
                              "/sql/schema.sql' >'" + state_ + "/start.log' 2>&1";
    // Servers of other tests start at the same time; a clash on a port is
    // tried again.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) started = std::system(start.c_str()) == 0;
    if (!started) throw std::runtime_error("stopped server did not start: " + readWholeFile(state_ + "/start.log"));
    facts_ = readDatabaseFacts(state_ + "/mariadb.facts");
    if (kill(static_cast<pid_t>(facts_.pid), SIGSTOP) != 0)
        throw std::runtime_error(std::string("stopped server: SIGSTOP: ") + std::strerror(errno));
}

StoppedServer::~StoppedServer() {
    kill(static_cast<pid_t>(facts_.pid), SIGCONT);
    const std::string stop = "'" + fixtureScript() + "' stop '" + state_ + "' >/dev/null 2>&1";
    if (std::system(stop.c_str()) != 0) {
        // Best effort: the server is ended by the script's own kill.
    }
    std::error_code ignored;
    std::filesystem::remove_all(state_, ignored);
}

std::map<std::string, std::string> StoppedServer::socketEnv() const {
    return {{ENV_DB_NAME, "zev"}, {ENV_MYSQL_UNIX_PORT, facts_.socket}};
}
