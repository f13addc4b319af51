// Container mode, run mode and socket discovery without a server: what the
// connection routine derives from files and the environment.
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

#include "db/container_mode.h"
#include "db/socket_discovery.h"
#include "env/messages.h"
#include "harness/database.h"
#include "harness/sandbox.h"

namespace {

std::string envText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string("[") + value + "]" : "<unset>";
}

/// find_mysql_socket's answer inside `sandbox` with `env`.
std::string socketFound(const Sandbox& sandbox, const std::map<std::string, std::string>& env = {}) {
    Outcome r = runInSandbox(sandbox, [&] {
        applyDatabaseEnv(env);
        const char* found = find_mysql_socket();
        std::printf("%s", found != nullptr ? found : "<none>");
    });
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

TEST(RunMode, AcceptsOneToThreeAndUnset) {
    Outcome r = captureInChild([] {
        unsetenv("ZEV_RUN_MODE");
        std::printf("%d", get_run_mode());
        for (const char* mode : {"1", "2", "3"}) {
            setenv("ZEV_RUN_MODE", mode, 1);
            std::printf(" %d", get_run_mode());
        }
    });
    EXPECT_EQ(r.out, "0 1 2 3");
}

TEST(RunMode, OtherValuesEndTheProcess) {
    for (const char* mode : {"0", "4", "", "3x", " 3", "-1"}) {
        Outcome r = captureInChild([&] {
            program_path = "/usr/local/bin/verstally";
            setenv("ZEV_RUN_MODE", mode, 1);
            errno = ENOENT;  // a stale errno is no system error of this report
            get_run_mode();
            std::printf("returned");
        });
        EXPECT_EQ(r.status, 1) << "[" << mode << "]";
        EXPECT_EQ(r.out, "verstally: unrecognized ZEV_RUNMODE\n") << "[" << mode << "]";
        EXPECT_EQ(r.err, r.out);
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
    struct Case {
        std::map<std::string, std::string> env;
        const char* link;  // expected target, null: no link
    } cases[] = {
        {{{"ZEV_RUN_MODE", "3"}, {"ZEV_DB_HOST", "db1"}}, "db1"},
        {{{"ZEV_RUN_MODE", "3"}, {"ZEV_DB_HOST", ""}}, ""},
        {{{"ZEV_RUN_MODE", "2"}, {"ZEV_DB_HOST", "db1"}}, nullptr},
        {{{"ZEV_RUN_MODE", "3"}}, nullptr},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        sandbox.makeDir("/etc/zev");
        Outcome r = runInSandbox(sandbox, [&] {
            applyDatabaseEnv(c.env);
            std::printf("%d", apply_container_mode());
        });
        EXPECT_EQ(r.out, "-1");
        char target[256] = "";
        ssize_t length = readlink(sandbox.layerPath("/etc/zev/qv_mode").c_str(), target, sizeof target - 1);
        if (c.link == nullptr) {
            EXPECT_LT(length, 0);
        } else if (*c.link == '\0') {
            // An empty target cannot be linked to; the failure is ignored.
            EXPECT_LT(length, 0);
        } else {
            ASSERT_GT(length, 0);
            EXPECT_EQ(std::string(target, length), c.link);
        }
    }
}

TEST(SocketDiscovery, FirstSocketLineOfServerSectionCounts) {
    SKIP_UNLESS_ROOT();
    DeadServer a, b;
    const std::string A = a.socketPath(), B = b.socketPath();
    struct Case {
        std::string conf;
        std::string expected;
    } cases[] = {
        {"[client]\nsocket=" + B + "\n[mysqld]\n  # socket=" + B + "\n; x\n\n datadir=/x\n  socket = " + A +
             " trailing\n",
         A},
        {"[mysqld]\nsocket_path\t=\t" + A + "\n", A},               // a longer option name is taken too
        {"[mysqld_safe]\nsocket=" + B + "\n[mysqld]\nsocket=" + A, A},  // last line without newline
        {"[mysqld]\n[client]\nsocket=" + A + "\n", "<none>"},        // the section has ended
        {"[mysqld]\nsocket " + A + "\nsocket=" + B + "\n", "<none>"},  // no "=": reading stops
        {"[mysqld]\nsocket=   \nsocket=" + B + "\n", "<none>"},       // nothing after "="
        {"[mysqld]\nsocket=/etc/hostname\nsocket=" + B + "\n", "<none>"},  // not a socket: only the first counts
        // The rest of an over-long line is not a line of its own.
        {"[mysqld]\n#" + std::string(4094, 'x') + "socket=" + A + "\n", "<none>"},
    };
    for (const Case& c : cases) {
        Sandbox sandbox;
        sandbox.writeFile("/etc/my.cnf", c.conf);
        sandbox.writeFile("/var/lib/mysql/mysql.sock", "a plain file");  // no fallback either
        EXPECT_EQ(socketFound(sandbox), c.expected) << c.conf.substr(0, 200);
    }
}

TEST(SocketDiscovery, FallbacksInOrderAndUnixPortVariable) {
    SKIP_UNLESS_ROOT();
    DeadServer a, b;
    Sandbox both;
    both.symlink(a.socketPath(), "/var/lib/mysql/mysql.sock");
    both.symlink(b.socketPath(), "/tmp/mysql.sock");
    EXPECT_EQ(socketFound(both), "/var/lib/mysql/mysql.sock");
    EXPECT_EQ(socketFound(both, {{"MYSQL_UNIX_PORT", ""}}), "/var/lib/mysql/mysql.sock");
    EXPECT_EQ(socketFound(both, {{"MYSQL_UNIX_PORT", "/x.sock"}}), "<none>");

    Sandbox second;
    second.writeFile("/var/lib/mysql/mysql.sock", "");
    second.symlink(b.socketPath(), "/tmp/mysql.sock");
    EXPECT_EQ(socketFound(second), "/tmp/mysql.sock");

    Sandbox nothing;
    nothing.writeFile("/var/lib/mysql/mysql.sock", "");
    nothing.writeFile("/tmp/mysql.sock", "");
    EXPECT_EQ(socketFound(nothing), "<none>");
}

}  // namespace
