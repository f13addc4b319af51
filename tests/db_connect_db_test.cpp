// The connection routine against the private server: which route it takes
// (socket variable, my.cnf, fallback sockets, TCP), the password file, the
// environment and container mode.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "db/connection.h"
#include "db/socket_discovery.h"
#include "env/constants.h"
#include "env/messages.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

/// Runs find_mysql_socket and db_connect inside `sandbox` under `env` and
/// prints "socket=<answer>" and then, on success,
/// "db=<database> user=<login@host> via=<route> fk=<foreign_key_checks>",
/// else "fail=<message>".
Outcome connectIn(const Sandbox& sandbox, const std::map<std::string, std::string>& env,
                  const std::function<void()>& before = {}) {
    return runInSandbox(sandbox, [&] {
        applyDatabaseEnv(env);
        if (before) before();
        const char* socket = find_mysql_socket();
        std::printf("socket=%s\n", socket != nullptr ? socket : "<none>");
        char message[DB_MESSAGE_BUFFER_SIZE];
        MYSQL* db = db_connect(message, sizeof message);
        if (db == nullptr) {
            std::printf("fail=%s\n", message);
            return;
        }
        const char* sql = "select database(), current_user(), @@foreign_key_checks";
        if (mysql_query(db, sql) != 0) {
            std::printf("query failed: %s\n", mysql_error(db));
            return;
        }
        MYSQL_RES* result = mysql_store_result(db);
        MYSQL_ROW row = mysql_fetch_row(result);
        std::printf("db=%s user=%s via=%s fk=%s\n", row[0], row[1], mysql_get_host_info(db), row[2]);
        mysql_free_result(result);
        mysql_close(db);
    });
}

std::string connected(const std::string& db, const std::string& user, bool socket) {
    return "db=" + db + " user=" + user + " via=" + (socket ? "Localhost via UNIX socket" : "127.0.0.1 via TCP/IP") +
           " fk=0\n";
}

class DbConnect : public LibraryWithDatabase {
protected:
    DeadServer dead;
    const std::string realSocket = databaseFacts().socket;
};

// Port 0 leaves the choice to the client library, whose default comes from
// MYSQL_TCP_PORT; a number is the port, whatever that default (65536 + P
// would reach port P: it is no port). The library reads MYSQL_TCP_PORT
// once, when it first initialises: each case is a fresh version print.
TEST_F(DbConnect, PortThatIsNoNumberIsTheLibraryDefault) {
    sandbox.writeProductConf();
    db.exec("INSERT INTO Components (name, version) VALUES ('samba', '3.0')");
    const std::string port = std::to_string(databaseFacts().port), deadPort = std::to_string(dead.port());
    const struct {
        std::string zevPort, libraryPort;
        bool connects;
    } cases[] = {
        {"x", port, true},
        {"", port, true},
        {"-1", port, true},
        {"99999999999999999999", port, true},
        {std::to_string(65536 + databaseFacts().port), deadPort, false},
        {" " + port + "trailing", deadPort, true},
        {deadPort, port, false},
    };
    for (const auto& c : cases) {
        ToolRun run;
        run.args = {"samba"};
        run.env = db.tcpEnv();
        run.env["ZEV_DB_PORT"] = c.zevPort;
        run.env["MYSQL_TCP_PORT"] = c.libraryPort;
        const Outcome r = runTool(sandbox, run);
        if (c.connects)
            EXPECT_EQ(r.out, "samba:3.0\n") << c.zevPort;
        else  // a refused connection reads as one
            EXPECT_EQ(r.out, "verstally: db_connect: failed to connect to database: Error: Can't connect to server "
                             "on '127.0.0.1' (111)\nverstally: Unable to connect to the mysql database\n\nSystem "
                             "error 111: " + std::string(std::strerror(ECONNREFUSED)) + "\n") << c.zevPort;
    }
}

TEST_F(DbConnect, UnixPortVariableWinsOverMyCnf) {
    sandbox.writeFile("/etc/my.cnf", "[mysqld]\nsocket=" + dead.socketPath() + "\n");
    sandbox.symlink(dead.socketPath(), "/var/lib/mysql/mysql.sock");
    EXPECT_EQ(connectIn(sandbox, db.socketEnv()).out, "socket=<none>\n" + connected(db.name(), "admin@localhost", true));

    // An empty ZEV_DB_HOST is no host: localhost, through the socket.
    auto env = db.socketEnv();
    env["ZEV_DB_HOST"] = "";
    EXPECT_EQ(connectIn(sandbox, env).out, "socket=<none>\n" + connected(db.name(), "admin@localhost", true));
}

TEST_F(DbConnect, ServerSectionOfMyCnfNamesTheSocket) {
    sandbox.writeFile("/etc/my.cnf", "[client]\nsocket = " + dead.socketPath() + "\n\n[mysqld]\n# the server\nsocket = " +
                                         realSocket + "\n");
    sandbox.symlink(dead.socketPath(), "/var/lib/mysql/mysql.sock");
    EXPECT_EQ(connectIn(sandbox, {{"ZEV_DB_NAME", db.name()}}).out,
              "socket=" + realSocket + "\n" + connected(db.name(), "admin@localhost", true));
}

// The fallback sockets' order is find_mysql_socket's (SocketDiscovery).
TEST_F(DbConnect, FallbackSocketWhenMyCnfHasNone) {
    sandbox.writeFile("/etc/my.cnf", "[mysqld]\nsocket=/etc/zev/.zev.shadow\n");
    sandbox.symlink(realSocket, "/var/lib/mysql/mysql.sock");
    sandbox.symlink(dead.socketPath(), "/tmp/mysql.sock");
    EXPECT_EQ(connectIn(sandbox, {{"ZEV_DB_NAME", db.name()}}).out,
              "socket=/var/lib/mysql/mysql.sock\n" + connected(db.name(), "admin@localhost", true));
}

TEST_F(DbConnect, HostAndPortGoOverTcp) {
    sandbox.symlink(dead.socketPath(), "/var/lib/mysql/mysql.sock");
    EXPECT_EQ(connectIn(sandbox, db.tcpEnv()).out,
              "socket=/var/lib/mysql/mysql.sock\n" + connected(db.name(), "admin@%", false));
}

TEST_F(DbConnect, PasswordFileDropsOneNewlineOnly) {
    // Logins of this test whose passwords end in "\r", in "\n", or are empty.
    const std::string password = databaseFacts().password;
    struct Case {
        std::string login, password, file;
    } cases[] = {
        {"cr_" + db.name(), password + "\r", password + "\r\n"},
        {"nl_" + db.name(), password + "\n", password + "\n\n"},
        {"no_" + db.name(), "", ""},
    };
    for (const Case& c : cases) {
        db.exec("CREATE USER '" + c.login + "'@'localhost' IDENTIFIED BY " + db.root().quote(c.password));
        db.exec("GRANT ALL ON " + db.name() + ".* TO '" + c.login + "'@'localhost'");
    }
    for (const Case& c : cases) {
        sandbox.writeFile("/etc/zev/.zev.shadow", c.file, 0600);
        auto env = db.socketEnv();
        env["ZEV_DB_LOGIN"] = c.login;
        EXPECT_EQ(connectIn(sandbox, env).out, "socket=<none>\n" + connected(db.name(), c.login + "@localhost", true));
    }
    for (const Case& c : cases) db.exec("DROP USER '" + c.login + "'@'localhost'");

    // "\r\n": the "\r" stays, so admin's password does not match.
    sandbox.writeFile("/etc/zev/.zev.shadow", password + "\r\n", 0600);
    EXPECT_EQ(connectIn(sandbox, db.socketEnv()).out,
              "socket=<none>\nfail=db_connect: failed to connect to database: Error: Access denied for user "
              "'admin'@'localhost' (using password: YES)\n");
}

TEST_F(DbConnect, PasswordFileMissingOrUnreadable) {
    Sandbox missing;
    missing.makeDir("/etc/zev");
    EXPECT_EQ(connectIn(missing, db.socketEnv()).out,
              "socket=<none>\nfail=db_connect: Unable to open admin password file /etc/zev/.zev.shadow: No such file "
              "or directory\n");
    Sandbox directory;
    directory.makeDir("/etc/zev/.zev.shadow");
    EXPECT_EQ(connectIn(directory, db.socketEnv()).out,
              "socket=<none>\nfail=db_connect: Unable to read admin password file /etc/zev/.zev.shadow: Is a "
              "directory\n");
}

TEST_F(DbConnect, MessageIsCutToTheBufferSize) {
    Outcome r = runInSandbox(sandbox, [&] {
        applyDatabaseEnv(dead.tcpEnv());
        char message[20];
        std::memset(message, 'z', sizeof message);
        MYSQL* none = db_connect(message, 12);
        std::printf("%d [%s] %c", none == nullptr, message, message[12]);
    });
    EXPECT_EQ(r.out, "1 [db_connect:] z");
}

// Servers that take the connection and then stall (the end-to-end test of
// the tool waits out the real bound once): db_connect gives up after its
// bound, with the client library's reason.
TEST_F(DbConnect, StalledServerIsGivenUpAfterTheBound) {
    StalledListener silent, greeting(partialGreeting());
    const std::pair<const char*, std::map<std::string, std::string>> stalls[] = {
        {"TCP, never accepted", silent.tcpEnv()},
        {"TCP, part of a greeting", greeting.tcpEnv()},
        {"unix socket, never accepted (a stopped server)", silent.socketEnv()},
    };
    for (const auto& stall : stalls) {
        Outcome r = runInSandbox(sandbox, [&] {
            applyDatabaseEnv(stall.second);
            char message[DB_MESSAGE_BUFFER_SIZE];
            const auto start = std::chrono::steady_clock::now();
            MYSQL* none = db_connect_bounded(message, sizeof message, 1);
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            std::printf("%lld ms\n%s", static_cast<long long>(waited.count()), none == nullptr ? message : "connected");
        });
        SCOPED_TRACE(stall.first);
        const long waited = std::atol(r.out.c_str());
        EXPECT_GE(waited, 990);
        EXPECT_LT(waited, 5000);
        EXPECT_THAT(r.out, HasSubstr(" ms\ndb_connect: failed to connect to database: Error: "));
    }
}

TEST_F(DbConnect, OpenPanelDbWarnsAndReturnsNone) {
    sandbox.writeFile("/etc/zev/.zev.shadow", "wrong\n", 0600);
    Outcome r = runInSandbox(sandbox, [&] {
        program_path = "/opt/zev/verstally";
        applyDatabaseEnv(db.socketEnv());
        MYSQL* none = open_panel_db();
        std::printf("result=%s\n", none == nullptr ? "none" : "connection");
    });
    const std::string line =
        "verstally: db_connect: failed to connect to database: Error: Access denied for user 'admin'@'localhost' "
        "(using password: YES)\n";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, line);
    EXPECT_EQ(r.out, line + "result=none\n");
}

// What container mode derives is ContainerMode's; here db_connect uses it.
TEST_F(DbConnect, ContainerSevenUsesItsOwnDatabaseAndLogin) {
    db.exec("DROP DATABASE IF EXISTS zev7");
    db.exec("DROP USER IF EXISTS 'admin7'@'%'");
    db.exec("CREATE DATABASE zev7");
    db.exec("CREATE USER 'admin7'@'%' IDENTIFIED BY " + db.root().quote(databaseFacts().password));
    db.exec("GRANT ALL ON zev7.* TO 'admin7'@'%'");
    sandbox.symlink("127.0.0.1", "/etc/zev/qv_mode");
    sandbox.writeFile("/proc/qv/veinfo", "7 0 0\n");
    Outcome r = connectIn(sandbox, {{"ZEV_DB_PORT", std::to_string(databaseFacts().port)}});
    db.exec("DROP DATABASE zev7");
    db.exec("DROP USER 'admin7'@'%'");
    EXPECT_EQ(r.out, "socket=<none>\n" + connected("zev7", "admin7@%", false));
}

TEST_F(DbConnect, RunModeThreeSavesTheHostAndConnectsThere) {
    sandbox.makeDir("/etc/zev");
    sandbox.writeFile("/etc/hosts", "127.0.0.1 db1\n");
    auto env = db.tcpEnv();
    env["ZEV_DB_HOST"] = "db1";
    env["ZEV_RUN_MODE"] = "3";
    EXPECT_EQ(connectIn(sandbox, env).out, "socket=<none>\ndb=" + db.name() +
                                               " user=admin@% via=db1 via TCP/IP fk=0\n");
    char target[64] = "";
    ssize_t length = readlink(sandbox.layerPath("/etc/zev/qv_mode").c_str(), target, sizeof target - 1);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(target, length), "db1");
}

}  // namespace
