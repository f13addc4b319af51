#include "harness/database.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <csignal>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/sandbox.h"

namespace {

[[noreturn]] void fail(MYSQL* mysql, const std::string& what) {
    throw std::runtime_error(what + ": " + mysql_error(mysql));
}

[[noreturn]] void systemFailed(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

const DatabaseFacts& databaseFacts() {
    static const DatabaseFacts facts = readDatabaseFacts(std::string(VERSTALLY_TEST_STATE_DIR) + "/mariadb.facts");
    return facts;
}

RootConnection::RootConnection(const std::string& database, const std::string& socketPath)
    : mysql_(mysql_init(nullptr)) {
    if (mysql_ == nullptr) throw std::runtime_error("mysql_init failed");
    // No option file of the machine is read: the client library reads them
    // only when asked to (MYSQL_READ_DEFAULT_FILE, MYSQL_READ_DEFAULT_GROUP),
    // and the test server is started with --no-defaults alike.
    const std::string& socket = socketPath.empty() ? databaseFacts().socket : socketPath;
    if (mysql_real_connect(mysql_, "localhost", "root", "", database.empty() ? nullptr : database.c_str(), 0,
                           socket.c_str(), 0) == nullptr) {
        const std::string reason = mysql_error(mysql_);
        mysql_close(mysql_);
        throw std::runtime_error("root connection to " + socket + ": " + reason);
    }
}

RootConnection::~RootConnection() { mysql_close(mysql_); }

void RootConnection::exec(const std::string& sql) {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) fail(mysql_, sql);
    mysql_free_result(mysql_store_result(mysql_));
}

std::vector<DbRow> RootConnection::query(const std::string& sql) {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) fail(mysql_, sql);
    MYSQL_RES* result = mysql_store_result(mysql_);
    if (result == nullptr) fail(mysql_, sql + " (no result set)");
    std::vector<DbRow> rows;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        const unsigned long* lengths = mysql_fetch_lengths(result);
        rows.emplace_back();
        for (unsigned i = 0; i < mysql_num_fields(result); ++i)
            rows.back().push_back(row[i] ? std::optional<std::string>(std::string(row[i], lengths[i])) : std::nullopt);
    }
    mysql_free_result(result);
    return rows;
}

std::optional<std::string> RootConnection::scalar(const std::string& sql) {
    std::vector<DbRow> rows = query(sql);
    return rows.empty() || rows[0].empty() ? std::nullopt : rows[0][0];
}

std::string RootConnection::quote(const std::string& text) {
    std::string escaped(2 * text.size() + 1, '\0');
    escaped.resize(mysql_real_escape_string(mysql_, &escaped[0], text.data(), text.size()));
    return "'" + escaped + "'";
}

TestDatabase::TestDatabase() {
    static std::atomic<int> counter{0};
    name_ = "vt_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    // A database of this name can only be a leftover of a crashed test
    // whose pid has been reused: no live process uses it.
    root_.exec("DROP DATABASE IF EXISTS " + name_);
    root_.exec("CREATE DATABASE " + name_);
    if (mysql_select_db(root_.handle(), name_.c_str()) != 0) fail(root_.handle(), "select " + name_);
    // The fixture loaded the schema into "zev", which no test changes.
    const auto tables = root_.query("SELECT table_name FROM information_schema.tables WHERE table_schema = 'zev'");
    if (tables.empty()) throw std::runtime_error("no tables in the fixture's database zev");
    for (const DbRow& table : tables) root_.exec("CREATE TABLE " + *table[0] + " LIKE zev." + *table[0]);
}

TestDatabase::~TestDatabase() {
    try {
        root_.exec("DROP DATABASE IF EXISTS " + name_);
    } catch (const std::exception&) {
        // Left for the next fixture start, which begins with a new server.
    }
}

std::map<std::string, std::string> TestDatabase::socketEnv() const {
    return {{ENV_DB_NAME, name_}, {ENV_MYSQL_UNIX_PORT, databaseFacts().socket}};
}

std::map<std::string, std::string> TestDatabase::tcpEnv() const {
    return {{ENV_DB_NAME, name_}, {ENV_DB_HOST, "127.0.0.1"}, {ENV_DB_PORT, std::to_string(databaseFacts().port)}};
}

std::vector<std::string> TestDatabase::statementsMentioning(const std::string& marker) {
    std::string pattern = "%";
    for (char c : marker) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    std::vector<std::string> statements;
    // The log is the whole server's: keep the sessions opened on this
    // database, so that tests running side by side do not see each other.
    for (const DbRow& row : root_.query(
             "SELECT argument FROM mysql.general_log WHERE command_type = 'Query'"
             " AND argument LIKE " + root_.quote(pattern + "%") +
             " AND argument NOT LIKE '%general\\_log%'"
             " AND thread_id IN (SELECT thread_id FROM mysql.general_log WHERE command_type = 'Connect'"
             " AND argument LIKE " + root_.quote("% on " + name_ + " %") +
             " OR command_type = 'Init DB' AND argument = " + root_.quote(name_) + ")"
             " ORDER BY event_time")) {
        if (row[0]) statements.push_back(*row[0]);
    }
    return statements;
}

void writePasswordFile(const Sandbox& sandbox, const std::string& suffix) {
    sandbox.writeFile(ADMIN_PASSWORD_FILE, databaseFacts().password + suffix, 0600);
}

void applyDatabaseEnv(const std::map<std::string, std::string>& env) {
    for (const char* name : {ENV_DB_HOST, ENV_DB_PORT, ENV_DB_NAME, ENV_DB_LOGIN, ENV_RUN_MODE, ENV_MYSQL_UNIX_PORT})
        unsetenv(name);
    for (const auto& entry : env) setenv(entry.first.c_str(), entry.second.c_str(), 1);
}

DeadServer::DeadServer() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    tcp_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (tcp_ < 0 || bind(tcp_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(tcp_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        systemFailed("dead server's port");
    port_ = ntohs(address.sin_port);
    char dir[] = "/var/tmp/vtsock.XXXXXX";
    if (mkdtemp(dir) == nullptr) systemFailed("dead server's directory");
    dir_ = dir;
    chmod(dir, 0755);
    socketPath_ = dir_ + "/s";
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::snprintf(local.sun_path, sizeof local.sun_path, "%s", socketPath_.c_str());
    unix_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (unix_ < 0 || bind(unix_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        systemFailed("dead server's socket");
}

DeadServer::~DeadServer() {
    if (tcp_ >= 0) close(tcp_);
    if (unix_ >= 0) close(unix_);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::map<std::string, std::string> DeadServer::tcpEnv(const std::string& database) const {
    return {{ENV_DB_NAME, database}, {ENV_DB_HOST, "127.0.0.1"}, {ENV_DB_PORT, std::to_string(port_)}};
}

std::map<std::string, std::string> DeadServer::socketEnv(const std::string& database) const {
    return {{ENV_DB_NAME, database}, {ENV_MYSQL_UNIX_PORT, socketPath_}};
}

StalledListener::StalledListener(const std::string& greeting) {
    if (listen(tcp_, 64) != 0 || listen(unix_, 64) != 0) systemFailed("stalled listener");
    if (greeting.empty()) return;
    acceptor_ = std::thread([this, greeting] {
        for (;;) {
            const int client = accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0 && !stopping_ && errno == EINTR) continue;
            if (client < 0 || stopping_) {
                if (client >= 0) close(client);
                return;
            }
            if (write(client, greeting.data(), greeting.size()) < 0) close(client);
            else accepted_.push_back(client);  // held open, silent from now on
        }
    });
}

StalledListener::~StalledListener() {
    stopping_ = true;
    shutdown(tcp_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    for (int fd : accepted_) close(fd);
}

SocketRelay::SocketRelay(uid_t uid) {
    sockaddr_un server{};
    server.sun_family = AF_UNIX;
    std::snprintf(server.sun_path, sizeof server.sun_path, "%s", databaseFacts().socket.c_str());
    if ((pid_ = fork()) < 0) systemFailed("fork");
    if (pid_ > 0) return;
    // The kernel records who listens when listen is called.
    const int upstream = socket(AF_UNIX, SOCK_STREAM, 0);
    if (setgid(uid) != 0 || setuid(uid) != 0 || listen(unix_, 1) != 0) _exit(1);
    pollfd ends[] = {{accept(unix_, nullptr, nullptr), POLLIN, 0}, {upstream, POLLIN, 0}};
    if (connect(upstream, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) _exit(1);
    char buffer[4096];
    for (ssize_t got = 1; got > 0 && poll(ends, 2, -1) > 0;)
        for (int i = 0; i < 2 && got > 0; ++i)
            if (ends[i].revents != 0 && (got = read(ends[i].fd, buffer, sizeof buffer)) > 0)
                got = write(ends[1 - i].fd, buffer, static_cast<std::size_t>(got));
    _exit(0);
}

SocketRelay::~SocketRelay() {
    if (pid_ <= 0) return;  // never kill(-1)
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::string partialGreeting() { return std::string{80, 0, 0, 0, 10} + "10.11"; }
