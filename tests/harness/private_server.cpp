#include "harness/private_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mysql.h>
#include <netinet/in.h>
#include <map>
#include <stdexcept>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/capture.h"

namespace fs = std::filesystem;

namespace {

const char* const LOGIN = "admin";
const char* const PASSWORD = "vt-Admin-pw.42";
// What a start may take, and how often a taken port is tried again with another.
constexpr int READY_SECONDS = 60;
constexpr int START_ATTEMPTS = 5;
// The memory file system holds the server when it has this much room:
// every test creates a database, and on a disk table creation waits for
// its syncs.
constexpr unsigned long long MEMORY_NEEDED = 512ULL << 20;
// How often the keeper looks whether its owner is still there.
constexpr long OWNER_POLL_NS = 500L * 1000 * 1000;

[[noreturn]] void fail(const std::string& what, const std::string& log = "") {
    std::string text = "private server: " + what;
    if (!log.empty()) text += "\n----- " + log + " -----\n" + readWholeFile(log) + "----- end of " + log + " -----";
    throw std::runtime_error(text);
}

std::string makeServerDir() {
    struct statvfs memory;
    std::string dir = "/dev/shm/vtdb.XXXXXX";
    if (statvfs("/dev/shm", &memory) != 0 || memory.f_bavail * memory.f_frsize < MEMORY_NEEDED ||
        mkdtemp(dir.data()) == nullptr) {
        dir = "/var/tmp/vtdb.XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) fail("mkdtemp " + dir + ": " + std::strerror(errno));
    }
    chmod(dir.c_str(), 0755);
    return dir;
}

unsigned freePort() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) close(fd);
    if (!ok) fail(std::string("no free port: ") + std::strerror(errno));
    return ntohs(address.sin_port);
}

std::vector<char*> argvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

// In a forked child: standard input /dev/null, the output streams to `log`.
void detachStreams(const std::string& log) {
    redirectInChild(0, "/dev/null", O_RDONLY);
    redirectInChild(1, log, O_WRONLY | O_CREAT | O_APPEND);
    if (dup2(1, 2) != 2) _exit(125);
}

void runOrFail(std::vector<std::string> words, const std::string& log) {
    std::vector<char*> argv = argvOf(words);
    const pid_t pid = fork();
    if (pid == 0) {
        detachStreams(log);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = -1;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) fail(words[0] + " failed", log);
}

// The keeper, in a session of its own so that no signal to its starter's
// group reaches it; holds the state directory's lock (descriptor `lock`)
// while it lives. Runs the server as its child, which dies with it, and
// ends it when asked (SIGTERM), when `owner` is gone or when the server
// ended by itself; then removes the server's directory.
[[noreturn]] void keep(int lock, pid_t owner, std::vector<char*> argv, const std::string& dir, const std::string& out) {
    setsid();
    detachStreams(out);
    if (dup2(lock, 3) != 3 || close_range(4, ~0U, 0) != 0) _exit(125);
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, SIGTERM);
    sigaddset(&wake, SIGCHLD);
    sigprocmask(SIG_BLOCK, &wake, nullptr);
    const pid_t keeper = getpid();
    pid_t server = fork();
    if (server == 0) {
        sigprocmask(SIG_UNBLOCK, &wake, nullptr);
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != keeper) _exit(125);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const struct timespec poll = {0, OWNER_POLL_NS};
    while (server > 0 && sigtimedwait(&wake, nullptr, &poll) != SIGTERM && (kill(owner, 0) == 0 || errno != ESRCH))
        if (waitpid(server, nullptr, WNOHANG) == server) server = 0;
    if (server > 0) {
        // Its data is thrown away: nothing needs to be written at its end.
        kill(server, SIGKILL);
        waitpid(server, nullptr, 0);
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
    const int lock = open((stateDir + "/keeper.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (lock < 0) return;
    // Held: the keeper lives, and the pid it left is its own.
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const pid_t keeper = std::atoi(readWholeFile(stateDir + "/keeper.pid").c_str());
        if (keeper > 0) kill(keeper, SIGTERM);
        flock(lock, LOCK_EX);
        if (keeper > 0) waitpid(keeper, nullptr, WNOHANG);  // when it was a child of this process
    }
    close(lock);
    unlink((stateDir + "/mariadb.facts").c_str());
}

DatabaseFacts startPrivateServer(const std::string& stateDir, const std::string& schema, pid_t owner,
                                 const std::vector<std::string>& options) {
    const std::string state = fs::absolute(stateDir), log = state + "/server.log";
    std::ifstream schemaFile(schema);
    const std::string tables((std::istreambuf_iterator<char>(schemaFile)), std::istreambuf_iterator<char>());
    if (tables.empty()) fail("cannot read the schema " + schema);
    fs::create_directories(state);
    stopPrivateServer(state);
    for (int attempt = 1; attempt <= START_ATTEMPTS; ++attempt) {
        const std::string dir = makeServerDir(), socket = dir + "/mysqld.sock", port = std::to_string(freePort());
        runOrFail({"mariadb-install-db", "--no-defaults", "--user=root", "--datadir=" + dir + "/data",
                   "--auth-root-authentication-method=normal", "--skip-test-db"},
                  state + "/install.log");
        std::vector<std::string> words = {"/usr/sbin/mariadbd", "--no-defaults", "--user=root", "--datadir=" + dir +
            "/data", "--socket=" + socket, "--port=" + port, "--bind-address=127.0.0.1", "--skip-name-resolve",
            "--log-error=" + log, "--general-log=1", "--log-output=TABLE", "--innodb-buffer-pool-size=64M",
            "--innodb-log-file-size=16M", "--skip-log-bin", "--max-connections=500"};
        words.insert(words.end(), options.begin(), options.end());
        std::vector<char*> argv = argvOf(words);
        unlink(log.c_str());
        const int lock = open((state + "/keeper.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock < 0 || flock(lock, LOCK_EX) != 0) fail("lock " + state + "/keeper.lock: " + std::strerror(errno));
        const pid_t keeper = fork();
        if (keeper == 0) keep(lock, owner, argv, dir, state + "/server.out");
        close(lock);
        if (keeper < 0) fail(std::string("fork: ") + std::strerror(errno));
        std::ofstream(state + "/keeper.pid") << keeper << "\n";
        MYSQL* db = mysql_init(nullptr);
        const unsigned timeout = 2;
        mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
        bool ready = false, ended = false;
        for (int i = 0; i < READY_SECONDS * 10 && !ready && !ended; ++i) {
            ready = mysql_real_connect(db, "localhost", "root", "", nullptr, 0, socket.c_str(),
                                       CLIENT_MULTI_STATEMENTS) != nullptr;
            ended = !ready && waitpid(keeper, nullptr, WNOHANG) == keeper;
            if (!ready && !ended) usleep(100 * 1000);
        }
        if (ready) {
            char host[256] = "";
            gethostname(host, sizeof host - 1);
            const std::string failure = execAll(db, "DROP USER IF EXISTS ''@'localhost', ''@'" + std::string(host) +
                            "'; CREATE DATABASE zev; CREATE USER '" + LOGIN + "'@'localhost' IDENTIFIED BY '" +
                            PASSWORD + "', '" + LOGIN + "'@'%' IDENTIFIED BY '" + PASSWORD +
                            "'; GRANT ALL ON *.* TO '" + LOGIN + "'@'localhost', '" + LOGIN + "'@'%'; USE zev; " +
                            tables);
            mysql_close(db);
            if (!failure.empty()) {
                stopPrivateServer(state);
                fail("set-up: " + failure, log);
            }
            const DatabaseFacts facts{socket, static_cast<unsigned>(std::stoul(port)), PASSWORD};
            std::ofstream(state + "/mariadb.facts.new")
                << "socket=" << socket << "\nport=" << port << "\npassword=" << PASSWORD << "\n";
            fs::rename(state + "/mariadb.facts.new", state + "/mariadb.facts");
            return facts;
        }
        mysql_close(db);
        if (!ended) {
            stopPrivateServer(state);
            fail("the server did not answer within " + std::to_string(READY_SECONDS) + " seconds", log);
        }
        if (readWholeFile(log).find("already in use") == std::string::npos) fail("the server ended at start", log);
    }
    fail("no free port in " + std::to_string(START_ATTEMPTS) + " attempts", log);
}
