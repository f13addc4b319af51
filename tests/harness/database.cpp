#include "harness/database.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"
#include "harness/capture.h"
#include "harness/sandbox.h"

DatabaseFacts readDatabaseFacts(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("no database facts at " + path + ": run the tests through ctest");
    DatabaseFacts facts;
    std::string line;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "socket") facts.socket = value;
        else if (key == "port") facts.port = static_cast<unsigned>(std::stoul(value));
        else if (key == "pid") facts.pid = std::stol(value);
        else if (key == "login") facts.login = value;
        else if (key == "password") facts.password = value;
    }
    if (facts.socket.empty() || facts.port == 0) throw std::runtime_error("incomplete database facts in " + path);
    return facts;
}

namespace {

[[noreturn]] void fail(MYSQL* mysql, const std::string& what) {
    throw std::runtime_error(what + ": " + mysql_error(mysql));
}

}  // namespace

const DatabaseFacts& databaseFacts() {
    static const DatabaseFacts facts = readDatabaseFacts(std::string(VERSTALLY_TEST_STATE_DIR) + "/mariadb.facts");
    return facts;
}

RootConnection::RootConnection(const std::string& database) : mysql_(mysql_init(nullptr)) {
    if (mysql_ == nullptr) throw std::runtime_error("mysql_init failed");
    const DatabaseFacts& facts = databaseFacts();
    if (mysql_real_connect(mysql_, "localhost", "root", "", database.empty() ? nullptr : database.c_str(), 0,
                           facts.socket.c_str(), 0) == nullptr) {
        std::string reason = mysql_error(mysql_);
        mysql_close(mysql_);
        throw std::runtime_error("root connection to " + facts.socket + ": " + reason);
    }
}

RootConnection::~RootConnection() { mysql_close(mysql_); }

void RootConnection::exec(const std::string& sql) {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) fail(mysql_, sql);
    MYSQL_RES* result = mysql_store_result(mysql_);
    if (result != nullptr) mysql_free_result(result);
}

std::vector<DbRow> RootConnection::query(const std::string& sql) {
    if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0) fail(mysql_, sql);
    MYSQL_RES* result = mysql_store_result(mysql_);
    if (result == nullptr) fail(mysql_, sql + " (no result set)");
    std::vector<DbRow> rows;
    const unsigned columns = mysql_num_fields(result);
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        unsigned long* lengths = mysql_fetch_lengths(result);
        DbRow values;
        for (unsigned i = 0; i < columns; ++i) {
            if (row[i] == nullptr) values.emplace_back(std::nullopt);
            else values.emplace_back(std::string(row[i], lengths[i]));
        }
        rows.push_back(std::move(values));
    }
    mysql_free_result(result);
    return rows;
}

std::optional<std::string> RootConnection::scalar(const std::string& sql) {
    std::vector<DbRow> rows = query(sql);
    if (rows.empty() || rows[0].empty()) return std::nullopt;
    return rows[0][0];
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

    const std::string schemaPath = std::string(VERSTALLY_SOURCE_DIR) + "/sql/schema.sql";
    const std::string schema = readWholeFile(schemaPath);
    if (schema.empty()) throw std::runtime_error("cannot read " + schemaPath);
    MYSQL* mysql = root_.handle();
    if (mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_ON) != 0) fail(mysql, "multi statements on");
    if (mysql_real_query(mysql, schema.data(), schema.size()) != 0) fail(mysql, "loading " + schemaPath);
    int more;
    do {
        MYSQL_RES* result = mysql_store_result(mysql);
        if (result != nullptr) mysql_free_result(result);
        more = mysql_next_result(mysql);
        if (more > 0) fail(mysql, "loading " + schemaPath);
    } while (more == 0);
    if (mysql_set_server_option(mysql, MYSQL_OPTION_MULTI_STATEMENTS_OFF) != 0) fail(mysql, "multi statements off");
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
    pattern += "%";
    std::vector<std::string> statements;
    // The log is the whole server's: keep the sessions opened on this
    // database, so that tests running side by side do not see each other.
    for (const DbRow& row : root_.query(
             "SELECT argument FROM mysql.general_log WHERE command_type = 'Query'"
             " AND argument LIKE " + root_.quote(pattern) +
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

int bindLoopbackPort(unsigned& port, const char* what) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        if (fd >= 0) close(fd);
        throw std::runtime_error(std::string(what) + ": " + std::strerror(error));
    }
    port = ntohs(address.sin_port);
    return fd;
}

int bindUnixSocket(std::string& dir, std::string& path, const char* what) {
    char pattern[] = "/var/tmp/vtsock.XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    dir = pattern;
    chmod(dir.c_str(), 0755);
    path = dir + "/s";
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::snprintf(local.sun_path, sizeof local.sun_path, "%s", path.c_str());
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        if (fd >= 0) close(fd);
        throw std::runtime_error(std::string(what) + ": " + std::strerror(error));
    }
    return fd;
}

DeadServer::DeadServer() {
    tcp_ = bindLoopbackPort(port_, "dead port");
    unix_ = bindUnixSocket(dir_, socketPath_, "dead socket");
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

std::string otherAdminSessions(MYSQL* own) {
    const char* others = nullptr;
    // A closed connection leaves the server's list shortly after.
    for (int tries = 0; tries < 50; ++tries) {
        others = query_single_value(
            "select count(*) from information_schema.processlist where db = database() and user = 'admin' and "
            "id <> connection_id()",
            own);
        if (others == nullptr || std::strcmp(others, "0") == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return others != nullptr ? others : "<none>";
}

Outcome runWithDatabase(const Sandbox& sandbox, const std::map<std::string, std::string>& env,
                        const std::function<void()>& body) {
    return runInSandbox(sandbox, [&] {
        program_path = "/opt/zev/bin/verstally";
        applyDatabaseEnv(env);
        body();
    });
}
