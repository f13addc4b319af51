#include "harness/private_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mysql.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/capture.h"
#include "util/child_process.h"

namespace fs = std::filesystem;

namespace {

const std::string LOGIN = "admin", PASSWORD = "vt-Admin-pw.42";
// What a start may take, and how often a port taken meanwhile is tried again.
constexpr int READY_SECONDS = 60;
constexpr int START_ATTEMPTS = 5;
// The memory file system holds the server when it has this much room:
// every test creates a database, and on a disk that waits for syncs.
constexpr unsigned long long MEMORY_NEEDED = 512ULL << 20;
// How often the keeper looks whether it is still wanted.
constexpr unsigned OWNER_POLL_US = 200 * 1000;

[[noreturn]] void fail(const std::string& what, const std::string& log = "") {
    throw std::runtime_error("private server: " + what +
                             (log.empty() ? "" : "\n----- " + log + " -----\n" + readWholeFile(log) + "-----"));
}

std::string makeServerDir() {
    struct statvfs memory;
    std::string dir = "/dev/shm/vtdb.XXXXXX";
    const bool roomy = statvfs("/dev/shm", &memory) == 0 && memory.f_bavail * memory.f_frsize >= MEMORY_NEEDED;
    if ((!roomy || mkdtemp(dir.data()) == nullptr) && mkdtemp((dir = "/var/tmp/vtdb.XXXXXX").data()) == nullptr)
        fail("mkdtemp " + dir + ": " + std::strerror(errno));
    fs::permissions(dir, fs::perms(0755));
    return dir;
}

unsigned freePort() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) close(fd);
    if (!bound) fail(std::string("no free port: ") + std::strerror(errno));
    return ntohs(address.sin_port);
}

std::vector<char*> argvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

// The keeper: in a session of its own, so that no signal to its starter's
// group reaches it. Starts the server, which dies with it, and ends it once
// the file `running` is gone (stopPrivateServer), `owner` is gone or the
// server ended by itself; then removes its directory.
[[noreturn]] void keep(const std::string& running, pid_t owner, std::vector<std::string> words, const std::string& dir,
                       const std::string& out) {
    setsid();
    const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), null = open("/dev/null", O_RDONLY);
    if (output < 0 || null < 0 || dup2(null, 0) != 0 || dup2(output, 1) != 1 || dup2(output, 2) != 2 ||
        close_range(3, ~0U, 0) != 0)
        _exit(125);
    try {
        const pid_t server = forkExecvPipes(-1, 1, 2, words[0], argvOf(words), static_cast<uid_t>(-1), {});
        bool ended = false;
        while (access(running.c_str(), F_OK) == 0 && (kill(owner, 0) == 0 || errno != ESRCH) &&
               !(ended = waitpid(server, nullptr, WNOHANG) != 0))
            usleep(OWNER_POLL_US);
        // Its data is thrown away: nothing needs to be written at its end.
        if (!ended) kill(server, SIGKILL);
        if (!ended) waitpid(server, nullptr, 0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    _exit(0);
}

// Runs every statement of `sql` on `db`; the first failure's text, or "".
std::string execAll(MYSQL* db, const std::string& sql) {
    int more = mysql_real_query(db, sql.data(), sql.size());
    for (; more == 0; more = mysql_next_result(db)) mysql_free_result(mysql_store_result(db));
    return more > 0 ? mysql_error(db) : "";
}

}  // namespace

DatabaseFacts readDatabaseFacts(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("no database facts at " + path + ": run the tests through ctest");
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    DatabaseFacts facts{values["socket"], static_cast<unsigned>(std::atoi(values["port"].c_str())), values["password"]};
    if (facts.socket.empty() || facts.port == 0) throw std::runtime_error("incomplete database facts in " + path);
    return facts;
}

void stopPrivateServer(const std::string& stateDir) {
    unlink((stateDir + "/mariadb.facts").c_str());
    unlink((stateDir + "/running").c_str());
    const std::string dir = readWholeFile(stateDir + "/server-dir");
    for (int i = 0; !dir.empty() && i < READY_SECONDS * 10 && access(dir.c_str(), F_OK) == 0; ++i) usleep(100 * 1000);
}

DatabaseFacts startPrivateServer(const std::string& stateDir, const std::string& schema, pid_t owner,
                                 const std::vector<std::string>& options) {
    const std::string state = fs::absolute(stateDir), log = state + "/server.log", tables = readWholeFile(schema);
    if (tables.empty()) fail("cannot read the schema " + schema);
    fs::create_directories(state);
    stopPrivateServer(state);
    for (int attempt = 1; attempt <= START_ATTEMPTS; ++attempt) {
        const std::string dir = makeServerDir(), socket = dir + "/mysqld.sock", port = std::to_string(freePort());
        std::vector<std::string> words = {"/usr/bin/mariadb-install-db", "--no-defaults", "--user=root",
            "--datadir=" + dir + "/data", "--auth-root-authentication-method=normal", "--skip-test-db"};
        std::string out, err;
        if (forkExecvGetOutErr(out, err, words[0], argvOf(words)) != 0) fail("mariadb-install-db: " + out + err);
        words = {"/usr/sbin/mariadbd", "--no-defaults", "--user=root", "--datadir=" + dir + "/data",
                 "--socket=" + socket, "--port=" + port, "--bind-address=127.0.0.1", "--skip-name-resolve",
                 "--log-error=" + log, "--general-log=1", "--log-output=TABLE", "--innodb-buffer-pool-size=64M",
                 "--innodb-log-file-size=16M", "--skip-log-bin", "--max-connections=500"};
        words.insert(words.end(), options.begin(), options.end());
        unlink(log.c_str());
        std::ofstream(state + "/server-dir") << dir;
        std::ofstream(state + "/running").close();
        std::fflush(nullptr);
        const pid_t keeper = fork();
        if (keeper == 0) keep(state + "/running", owner, words, dir, state + "/server.out");
        if (keeper < 0) fail(std::string("fork: ") + std::strerror(errno));
        MYSQL* db = nullptr;
        std::string refusal;
        bool ready = false, ended = false;
        // A handle whose connection failed is not tried again: the 3.4 client
        // library would then insist on TLS.
        for (int i = 0; i < READY_SECONDS * 10 && !ready && !ended; ++i) {
            mysql_close(db);
            db = mysql_init(nullptr);
            ready = mysql_real_connect(db, "localhost", "root", "", nullptr, 0, socket.c_str(),
                                       CLIENT_MULTI_STATEMENTS) != nullptr;
            refusal = mysql_error(db);
            ended = !ready && waitpid(keeper, nullptr, WNOHANG) == keeper;
            if (!ready && !ended) usleep(100 * 1000);
        }
        char host[256] = "";
        gethostname(host, sizeof host - 1);
        const std::string failure = !ready ? "" : execAll(db, "DROP USER IF EXISTS ''@'localhost', ''@'" +
            std::string(host) + "'; CREATE DATABASE zev; CREATE USER '" + LOGIN + "'@'localhost' IDENTIFIED BY '" +
            PASSWORD + "', '" + LOGIN + "'@'%' IDENTIFIED BY '" + PASSWORD + "'; GRANT ALL ON *.* TO '" + LOGIN +
            "'@'localhost', '" + LOGIN + "'@'%'; USE zev; " + tables);
        mysql_close(db);
        if (ready && failure.empty()) {
            std::ofstream(state + "/mariadb.facts.new")
                << "socket=" << socket << "\nport=" << port << "\npassword=" << PASSWORD << "\n";
            fs::rename(state + "/mariadb.facts.new", state + "/mariadb.facts");
            return readDatabaseFacts(state + "/mariadb.facts");
        }
        if (!ended) stopPrivateServer(state);
        if (ready) fail("set-up: " + failure, log);
        if (!ended) fail("the server did not answer within " + std::to_string(READY_SECONDS) + " s: " + refusal, log);
        if (readWholeFile(log).find("already in use") == std::string::npos) fail("the server ended at start", log);
    }
    fail("no free port in " + std::to_string(START_ATTEMPTS) + " attempts", log);
}
