#include "harness/stalled_server.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/database.h"

StalledListener::StalledListener(const std::string& greeting) {
    listening_ = bindLoopbackPort(port_, "stalled listener");
    unix_ = bindUnixSocket(dir_, socketPath_, "stalled socket");
    if (listen(listening_, 64) != 0 || listen(unix_, 64) != 0)
        throw std::runtime_error(std::string("stalled listener: ") + std::strerror(errno));
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
    if (unix_ >= 0) close(unix_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::map<std::string, std::string> StalledListener::tcpEnv() const {
    return {{ENV_DB_NAME, "zev"}, {ENV_DB_HOST, "127.0.0.1"}, {ENV_DB_PORT, std::to_string(port_)}};
}

std::map<std::string, std::string> StalledListener::socketEnv() const {
    return {{ENV_DB_NAME, "zev"}, {ENV_MYSQL_UNIX_PORT, socketPath_}};
}

std::string partialGreeting() {
    std::string packet = {80, 0, 0, 0, 10};
    return packet + "10.11";
}
