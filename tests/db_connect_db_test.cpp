// The connection routine: what it derives from files and the environment
// (run mode, container mode, the socket of my.cnf or a fallback), and,
// against the private server, the route it takes, the password file, its
// failures and its bound.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "db/connection.h"
#include "db/container_mode.h"
#include "db/socket_discovery.h"
#include "env/constants.h"
#include "env/messages.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::HasSubstr;

std::string envText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string("[") + value + "]" : "<unset>";
}

/// Runs find_mysql_socket inside `sandbox` under `env` and prints its
/// answer on a line; with `connect`, then db_connect, and prints
/// "db=<database> user=<login@host> via=<route> fk=<foreign_key_checks>"
/// or "fail=<message>".
Outcome connectIn(const Sandbox& sandbox, const std::map<std::string, std::string>& env, bool connect = true) {
    return runInSandbox(sandbox, [&] {
        applyDatabaseEnv(env);
        const char* socket = find_mysql_socket();
        std::printf("%s\n", socket != nullptr ? socket : "<none>");
        char message[DB_MESSAGE_BUFFER_SIZE];
        MYSQL* db = connect ? db_connect(message, sizeof message) : nullptr;
        if (db == nullptr) {
            if (connect) std::printf("fail=%s\n", message);
            return;
        }
        if (mysql_query(db, "select database(), current_user(), @@foreign_key_checks") != 0)
            childFailed(mysql_error(db));
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

TEST(RunMode, OneToThreeOrUnsetElseTheProcessEnds) {
    const char* const fatal = "verstally: unrecognized ZEV_RUNMODE\n";
    const std::pair<const char*, const char*> cases[] = {{nullptr, "0"}, {"1", "1"},  {"2", "2"},   {"3", "3"},
                                                         {"0", fatal},   {"4", fatal}, {"", fatal},  {"3x", fatal},
                                                         {" 3", fatal},  {"-1", fatal}};
    for (const auto& c : cases) {
        Outcome r = captureInChild([&] {
            program_path = "/usr/local/bin/verstally";
            applyDatabaseEnv(c.first != nullptr ? std::map<std::string, std::string>{{"ZEV_RUN_MODE", c.first}}
                                                : std::map<std::string, std::string>{});
            errno = ENOENT;  // a stale errno is no system error of this report
            std::printf("%d", get_run_mode());
        });
        const bool ends = c.second == fatal;
        EXPECT_EQ(r.status, ends ? 1 : 0) << "[" << (c.first ? c.first : "unset") << "]";
        EXPECT_EQ(r.out, c.second);
        EXPECT_EQ(r.err, ends ? r.out : "");
    }
}

TEST(ContainerMode, IdentityGivesDatabaseAndLoginUnlessSetOrZero) {
    SKIP_UNLESS_ROOT();
    struct Case {
        const char* what;
        const char* identity;  // content of the identity file, null: none
        std::map<std::string, std::string> env;
        const char* expected;  // result, then host, database and login
    } cases[] = {
        {"identity file", "  12 2 0\n7 nothing\n", {}, "0 [db7.example] [zev12] [admin12]"},
        {"values in the environment are kept", "7\n", {{"ZEV_DB_HOST", ""}, {"ZEV_DB_NAME", "mine"}},
         "0 [] [mine] [admin7]"},
        {"container zero", "0 7 7\n", {}, "0 [db7.example] <unset> <unset>"},
        {"no identity file", nullptr, {}, "-1 [db7.example] <unset> <unset>"},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        sandbox.symlink("db7.example", "/etc/zev/qv_mode");
        if (c.identity != nullptr) sandbox.writeFile("/proc/qv/veinfo", c.identity);
        else sandbox.makeDir("/proc/qv");
        Outcome r = runInSandbox(sandbox, [&] {
            applyDatabaseEnv(c.env);
            int result = apply_container_mode();
            std::printf("%d %s %s %s", result, envText("ZEV_DB_HOST").c_str(), envText("ZEV_DB_NAME").c_str(),
                        envText("ZEV_DB_LOGIN").c_str());
        });
        EXPECT_EQ(r.out, c.expected) << c.what;
    }
}

TEST(ContainerMode, WithoutLinkOnlyRunModeThreeSavesTheHost) {
    SKIP_UNLESS_ROOT();
    const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
        {{{"ZEV_RUN_MODE", "3"}, {"ZEV_DB_HOST", "db1"}}, "db1"},
        {{{"ZEV_RUN_MODE", "3"}, {"ZEV_DB_HOST", ""}}, ""},  // no link can point nowhere; ignored
        {{{"ZEV_RUN_MODE", "2"}, {"ZEV_DB_HOST", "db1"}}, ""},
        {{{"ZEV_RUN_MODE", "3"}}, ""},
    };
    for (const auto& c : cases) {
        Sandbox sandbox;
        sandbox.makeDir("/etc/zev");
        EXPECT_EQ(runInSandbox(sandbox, [&] {
                      applyDatabaseEnv(c.first);
                      std::printf("%d", apply_container_mode());
                  }).out,
                  "-1");
        std::error_code none;
        EXPECT_EQ(std::filesystem::read_symlink(sandbox.layerPath("/etc/zev/qv_mode"), none).string(), c.second);
    }
}

// The first socket line of my.cnf's server section, else the fallbacks in
// order, unless MYSQL_UNIX_PORT is set: only a socket counts.
TEST(SocketDiscovery, ServerSectionOfMyCnfThenTheFallbacks) {
    SKIP_UNLESS_ROOT();
    DeadServer a, b, users;
    const std::string A = a.socketPath(), B = b.socketPath(), U = users.socketPath();
    ASSERT_EQ(chown(U.c_str(), 65534, 65534), 0);  // anybody's socket in /tmp: never taken
    const std::string lib = "/var/lib/mysql/mysql.sock", tmp = "/tmp/mysql.sock";
    struct Case {
        std::string conf, libSocket, tmpSocket;  // fallbacks "": plain files
        std::map<std::string, std::string> env;
        std::string expected;
        uid_t linkOwner = 0;  // of the fallbacks' links
    } cases[] = {
        {"[client]\nsocket=" + B + "\n[mysqld]\n  # socket=" + B + "\n; x\n\n datadir=/x\n  socket = " + A +
             " trailing\n", "", "", {}, A},
        {"[mysqld]\nsocket_path\t=\t" + A + "\n", "", "", {}, A},  // a longer option name is taken too
        {"[mysqld_safe]\nsocket=" + B + "\n[mysqld]\nsocket=" + A, "", "", {}, A},  // last line without newline
        {"[mysqld]\n[client]\nsocket=" + A + "\n", "", "", {}, "<none>"},  // the section has ended
        {"[mysqld]\nsocket " + A + "\nsocket=" + B + "\n", "", "", {}, "<none>"},  // no "=": reading stops
        {"[mysqld]\nsocket=   \nsocket=" + B + "\n", "", "", {}, "<none>"},  // nothing after "="
        {"[mysqld]\nsocket=/etc/hostname\nsocket=" + B + "\n", "", "", {}, "<none>"},  // only the first counts
        // The rest of an over-long line is not a line of its own.
        {"[mysqld]\n#" + std::string(4094, 'x') + "socket=" + A + "\n", "", "", {}, "<none>"},
        {"", A, B, {}, lib},
        {"", A, B, {{"MYSQL_UNIX_PORT", ""}}, lib},
        {"", A, B, {{"MYSQL_UNIX_PORT", "/x.sock"}}, "<none>"},
        {"", "", B, {}, tmp},
        {"[mysqld]\nsocket=" + U + "\n", "", U, {},
         "Socket " + U + " belongs to neither root nor mysql and is passed over\nSocket " + tmp +
             " belongs to neither root nor mysql and is passed over\n<none>"},
        {"", "", "", {}, "<none>"},
        // Anybody's link to the server's socket: swapped after the look, it
        // would lead elsewhere.
        {"", "", A, {},
         "Socket " + tmp + " is a link that belongs to neither root nor mysql and is not followed\n<none>", 65534},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        if (!c.conf.empty()) sandbox.writeFile("/etc/my.cnf", c.conf);
        if (c.libSocket.empty()) sandbox.writeFile(lib, "a plain file");
        else sandbox.symlink(c.libSocket, lib);
        if (c.tmpSocket.empty()) sandbox.writeFile(tmp, "");
        else sandbox.symlink(c.tmpSocket, tmp);
        for (const std::string& link : {lib, tmp}) lchown(sandbox.layerPath(link).c_str(), c.linkOwner, c.linkOwner);
        EXPECT_EQ(connectIn(sandbox, c.env, false).out, c.expected + "\n") << c.conf.substr(0, 200);
    }
}

class DbConnect : public LibraryWithDatabase {
protected:
    DeadServer dead;
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
    const std::string refused = "verstally: db_connect: failed to connect to database: Error: Can't connect to server "
                                "on '127.0.0.1' (111)\nverstally: Unable to connect to the mysql database\nSystem "
                                "error 111: " + std::string(std::strerror(ECONNREFUSED)) + "\n";
    for (const auto& c : cases) {
        ToolRun run;
        run.args = {"samba"};
        run.env = db.tcpEnv();
        run.env["ZEV_DB_PORT"] = c.zevPort;
        run.env["MYSQL_TCP_PORT"] = c.libraryPort;
        const Outcome r = runTool(sandbox, run);
        EXPECT_EQ(r.status, c.connects ? 0 : 1) << c.zevPort;
        EXPECT_EQ(r.out, c.connects ? "samba:3.0\n" : refused) << c.zevPort;  // a refused connection reads as one
        EXPECT_EQ(r.err, c.connects ? "" : r.out) << c.zevPort;
    }
}

// The route: MYSQL_UNIX_PORT; else the socket of my.cnf's server section or
// a fallback (in find_mysql_socket's order); a host goes over TCP. A socket
// served by a stranger is left at once, whatever led to it.
TEST_F(DbConnect, RouteIsTheSocketVariableMyCnfAFallbackOrTheHost) {
    SocketRelay stranger(65534);
    const std::string deadSocket = dead.socketPath(), real = databaseFacts().socket;
    const std::string fallback = "/var/lib/mysql/mysql.sock", viaSocket = connected(db.name(), "admin@localhost", true);
    const std::map<std::string, std::string> name = {{"ZEV_DB_NAME", db.name()}};
    auto byName = db.tcpEnv();
    byName["ZEV_DB_HOST"] = "db1";
    byName["ZEV_RUN_MODE"] = "3";
    const struct {
        std::string myCnf, fallbackSocket, tmpSocket;  // "": none
        std::map<std::string, std::string> env;
        std::string expected;
    } cases[] = {
        {"[mysqld]\nsocket=" + deadSocket + "\n", deadSocket, "", db.socketEnv(), "<none>\n" + viaSocket},
        // An empty ZEV_DB_HOST is no host: localhost, through the socket.
        {"[mysqld]\nsocket=" + deadSocket + "\n", deadSocket, "",
         {{"ZEV_DB_NAME", db.name()}, {"MYSQL_UNIX_PORT", real}, {"ZEV_DB_HOST", ""}}, "<none>\n" + viaSocket},
        {"[client]\nsocket = " + deadSocket + "\n\n[mysqld]\n# the server\nsocket = " + real + "\n", deadSocket, "",
         name, real + "\n" + viaSocket},
        {"[mysqld]\nsocket=/etc/zev/.zev.shadow\n", real, deadSocket, name, fallback + "\n" + viaSocket},
        {"", deadSocket, "", db.tcpEnv(), fallback + "\n" + connected(db.name(), "admin@%", false)},
        // Run mode 3 saves the host (ContainerMode) and connects to it by name.
        {"", "", "", byName, "<none>\ndb=" + db.name() + " user=admin@% via=db1 via TCP/IP fk=0\n"},
        {"", "", "", {{"ZEV_DB_NAME", db.name()}, {"MYSQL_UNIX_PORT", stranger.socketPath()}},
         "<none>\nfail=db_connect: failed to connect to database: Error: the process listening on the server's socket "
         "runs as nobody, neither root, mysql nor the user of this process\n"},
    };
    for (const auto& c : cases) {
        Sandbox fresh;
        writePasswordFile(fresh, "\n");
        fresh.writeFile("/etc/hosts", "127.0.0.1 db1\n");
        if (!c.myCnf.empty()) fresh.writeFile("/etc/my.cnf", c.myCnf);
        if (!c.fallbackSocket.empty()) fresh.symlink(c.fallbackSocket, fallback);
        if (!c.tmpSocket.empty()) fresh.symlink(c.tmpSocket, "/tmp/mysql.sock");
        EXPECT_EQ(connectIn(fresh, c.env).out, c.expected);
    }
}

TEST_F(DbConnect, PasswordFileDropsOneNewlineOnly) {
    // Logins of this test whose passwords end in "\r", in "\n", or are empty.
    const std::string password = databaseFacts().password, failed = "<none>\nfail=db_connect: ";
    const std::string admin = connected(db.name(), "admin@localhost", true);
    const std::string file = "Admin password file /etc/zev/.zev.shadow can be ", warned = "<none>\n" + file;
    struct Case {
        std::string login, password, file, expected;
        mode_t mode = 0600;
        uid_t owner = 0;
    } cases[] = {
        {"cr_" + db.name(), password + "\r", password + "\r\n", ""},
        {"nl_" + db.name(), password + "\n", password + "\n\n", ""},
        {"no_" + db.name(), "", "", ""},
        // "\r\n": the "\r" stays, so admin's password does not match.
        {"", "", password + "\r\n",
         failed + "failed to connect to database: Error: Access denied for user 'admin'@'localhost' (using "
                  "password: YES)\n"},
        // Others than root may read it: a warning; may write it: refused.
        {"", "", password, warned + "read by others than root (owner root, mode 0640)\n" + admin, 0640},
        {"", "", password, failed + file + "written by others than root (owner root, mode 0602) and is not used\n",
         0602},
        {"", "", password, failed + file + "written by others than root (owner nobody, mode 0600) and is not used\n",
         0600, 65534},
        {"", "", "<missing>",
         failed + "Unable to open admin password file /etc/zev/.zev.shadow: No such file or directory\n"},
        {"", "", "<directory>", failed + "Unable to read admin password file /etc/zev/.zev.shadow: Is a directory\n"},
    };
    for (const Case& c : cases) {
        if (c.login.empty()) continue;
        db.exec("CREATE USER '" + c.login + "'@'localhost' IDENTIFIED BY " + db.root().quote(c.password));
        db.exec("GRANT ALL ON " + db.name() + ".* TO '" + c.login + "'@'localhost'");
    }
    for (const Case& c : cases) {
        if (c.file == "<missing>") unlink(sandbox.layerPath(ADMIN_PASSWORD_FILE).c_str());
        else if (c.file == "<directory>") sandbox.makeDir(ADMIN_PASSWORD_FILE);
        else sandbox.writeFile(ADMIN_PASSWORD_FILE, c.file, c.mode);
        if (c.owner != 0) {
            ASSERT_EQ(chown(sandbox.layerPath(ADMIN_PASSWORD_FILE).c_str(), c.owner, 0), 0);
        }
        auto env = db.socketEnv();
        if (!c.login.empty()) env["ZEV_DB_LOGIN"] = c.login;
        EXPECT_EQ(connectIn(sandbox, env).out,
                  c.login.empty() ? c.expected : "<none>\n" + connected(db.name(), c.login + "@localhost", true));
    }
    for (const Case& c : cases)
        if (!c.login.empty()) db.exec("DROP USER '" + c.login + "'@'localhost'");
}

TEST_F(DbConnect, MessageIsCutToTheBufferSize) {
    Outcome r = inside([] {
        char message[20];
        std::memset(message, 'z', sizeof message);
        MYSQL* none = db_connect(message, 12);
        std::printf("%d [%s] %c", none == nullptr, message, message[12]);
    }, dead.tcpEnv());
    EXPECT_EQ(r.out, "1 [db_connect:] z");  // and db_connect itself prints nothing
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
        Outcome r = inside([] {
            char message[DB_MESSAGE_BUFFER_SIZE];
            const auto start = std::chrono::steady_clock::now();
            MYSQL* none = db_connect_bounded(message, sizeof message, 1);
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            std::printf("%lld ms\n%s", static_cast<long long>(waited.count()), none == nullptr ? message : "connected");
        }, stall.second);
        SCOPED_TRACE(stall.first);
        const long waited = std::atol(r.out.c_str());
        EXPECT_GE(waited, 990);
        EXPECT_LT(waited, 5000);
        EXPECT_THAT(r.out, HasSubstr(" ms\ndb_connect: failed to connect to database: Error: "));
    }
}

TEST_F(DbConnect, OpenPanelDbWarnsAndReturnsNone) {
    sandbox.writeFile(ADMIN_PASSWORD_FILE, "wrong\n", 0600);
    Outcome r = inside([] { std::printf("result=%s\n", open_panel_db() == nullptr ? "none" : "connection"); });
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
    EXPECT_EQ(r.out, "<none>\n" + connected("zev7", "admin7@%", false));
}

}  // namespace
