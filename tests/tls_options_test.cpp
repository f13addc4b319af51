#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "db/tls_options.h"
#include "env/safe_point.h"
#include "harness/sandbox.h"
#include "harness/tool_fixture.h"

namespace {

// What reading `path` leaves: TLS or plain, the values set, the warnings
// and the failure.
std::string summary(const std::string& path) {
    TlsOptions o;
    OptionReading reading = tls_option_reading(o);
    read_option_file(path, reading);
    std::string s = std::string(o.wanted() ? "tls" : "plain") + (o.verify_server_cert ? "+verify" : "");
    for (const std::string* v : {&o.ca, &o.capath, &o.cert, &o.key, &o.cipher, &o.version, &o.crl, &o.crlpath})
        if (!v->empty()) s += "|" + *v;
    for (const std::string& warning : reading.warnings) s += "\nwarning: " + warning;
    if (!reading.failure.empty()) s += "\nfailure: " + reading.failure;
    return s;
}

// The option-file syntax as MariaDB's clients read it and apply it, for the
// settings taken here and nothing else, and the files a root tool refuses.
TEST(TlsOptions, OptionFilesAreReadAsMariadbClientsReadThem) {
    char dir[] = "/var/tmp/verstally-tls.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string base = dir, my = base + "/my.cnf";
    auto write = [](const std::string& path, const std::string& text) {
        FILE* file = std::fopen(path.c_str(), "w");
        std::fputs(text.c_str(), file);
        std::fclose(file);
        chmod(path.c_str(), 0644);
    };
    ASSERT_EQ(mkdir((base + "/more").c_str(), 0755), 0);
    write(base + "/more/b.cnf", "[client]\nssl-key = /k.pem\n");
    write(base + "/more/a.cnf", "[client]\nssl-key = /first.pem\nssl-cert = /c.pem\n");
    write(base + "/more/ignored.txt", "[client]\nssl-cipher = NOT-READ\n");
    write(base + "/extra.cnf", "[verstally]\ntls_version=TLSv1.3\n");
    ASSERT_EQ(mkdir((base + "/loop").c_str(), 0755), 0);
    for (const char* name : {"1", "2", "3", "4", "5"})
        write(base + "/loop/" + name + ".cnf", "[client]\n!includedir " + base + "/loop\n");
    set_program_option_group("verstally");
    const std::string in = " in config file " + my + " at line ";
    const std::pair<std::string, std::string> cases[] = {
        {"", "plain"},
        // Other groups and other settings are not read; group names in any case.
        {"[mysqld]\nssl-ca=/server.pem\n[client]\nhost=elsewhere\nport=1\n", "plain"},
        {"[CLIENT]\nssl-ca = /ca.pem  # a comment\n", "tls|/ca.pem"},
        {"[client-mariadb]\nssl-ca=\"/with space#.pem\"\n[client]\nssl-ca='/later.pem'\n", "tls|/later.pem"},
        {"[client-server]\nloose_ssl_capath=/dir\\sx\nssl-crl=/r.pem\nssl-crlpath=/rd\n", "tls|/dir x|/r.pem|/rd"},
        {"[verstally]\nssl\nssl-verify-server-cert\n", "tls+verify"},
        // In file order: a later TLS setting turns TLS on again; a later
        // skip-ssl turns it off, but never a verification asked for.
        {"[client]\nskip-ssl\n[verstally]\nssl-ca=/ca.pem\n", "tls|/ca.pem"},
        {"[client]\nssl-ca=/ca.pem\nskip-ssl\ndisable-ssl-verify-server-cert\n", "plain|/ca.pem"},
        {"[client]\nssl-verify-server-cert\nssl-ca=/ca.pem\nssl=0\n", "tls+verify|/ca.pem"},
        {"[client]\nssl=OFF\nenable-ssl\nssl-verify-server-cert=0\n", "tls"},
        {"[client]\n# ssl-ca=/commented.pem\n; ssl\nssl-mode=REQUIRED\nssl-ca\n",
         "plain\nwarning: Unknown TLS setting 'ssl-mode'" + in + "4 is ignored\nwarning: TLS setting 'ssl-ca'" + in +
             "5 is ignored: it needs a value"},
        {"[client]\n!includedir " + base + "/more\n!include " + base + "/extra.cnf\nssl-cipher=ECDHE\n",
         "tls|/c.pem|/k.pem|ECDHE|TLSv1.3"},
        // Broken files fail; a world-writable one and loops are passed over.
        {"ssl-ca=/before-any-group.pem\n", "plain\nfailure: Found option without preceding group in config file: " +
                                               my + " at line 1"},
        {"[client]\nssl\n[client\nskip-ssl\n",
         "tls\nfailure: Wrong group definition in config file: " + my + " at line 3"},
        {"[client]\n!includedir " + base + "/none\n", "plain\nfailure: Can't read dir of '" + base +
                                                         "/none' named" + in + "2: No such file or directory"},
        {"[client]\nssl\n!include " + my + "\n",
         "tls\nwarning: Config file '" + my + "' includes itself and is not read again"},
        // A file that is there but cannot be looked at is no absent one.
        {"[client]\nssl\n!include " + base + "/self.cnf\n",
         "tls\nfailure: Can't read config file '" + base + "/self.cnf': Too many levels of symbolic links"},
    };
    ASSERT_EQ(symlink((base + "/self.cnf").c_str(), (base + "/self.cnf").c_str()), 0);
    for (const auto& c : cases) {
        write(my, c.first);
        EXPECT_EQ(summary(my), c.second) << c.first;
    }
    EXPECT_EQ(summary(base + "/missing.cnf"), "plain");
    // An included file that others than root could change is ignored.
    const std::string x = base + "/t/x.cnf", ignored = "tls\nwarning: Config file '" + x + "' ";
    const std::tuple<uid_t, mode_t, mode_t, std::string> trust[] = {
        {65534, 0644, 0755, ignored + "does not belong to root and is ignored"},
        {0, 0664, 0755, "tls\nwarning: Group-writable config file '" + x + "' is ignored"},
        {0, 0644, 0777, ignored + "is ignored: its directory '" + base + "/t' can be changed by others than root"},
        {0, 0644, 01777, "tls|X"},
    };
    for (const auto& [fileOwner, fileMode, dirMode, expected] : trust) {
        if (geteuid() != 0) {
            rowNotRun(expected, "giving a file away needs root");
            continue;
        }
        ASSERT_EQ(mkdir((base + "/t").c_str(), 0755), 0);
        write(x, "[client]\nssl-cipher=X\n");
        ASSERT_EQ(chown(x.c_str(), fileOwner, 0) | chmod(x.c_str(), fileMode), 0);
        ASSERT_EQ(chmod((base + "/t").c_str(), dirMode), 0);
        write(my, "[client]\nssl\n!include " + x + "\n");
        EXPECT_EQ(summary(my), expected);
        std::system(("rm -rf " + base + "/t").c_str());
    }
    write(my, "[client]\n!includedir " + base + "/loop\n");
    EXPECT_NE(summary(my).find("\nfailure: More than 100 config files"), std::string::npos);
    std::system(("rm -rf " + base).c_str());
}

// A time-out acted on between the lines of the first reading (whose count
// needs a connection) cannot start that reading again.
TEST(TlsOptions, FirstReadingIsNotReenteredFromItsSafePoints) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    sandbox.writeFile("/etc/my.cnf", "[client]\nssl\n");
    sandbox.writeFile("/etc/mysql/my.cnf", "");
    const Outcome r = runInSandbox(sandbox, [] {
        unsetenv("HOME");
        set_safe_point_routine([] {
            std::string why;
            std::printf("%s; ", tls_options(why) != nullptr ? "read" : why.c_str());
        });
        std::string why;
        std::printf("%s\n", tls_options(why) != nullptr && tls_options(why)->wanted() ? "tls" : why.c_str());
    });
    EXPECT_EQ(r.out, "the option files are still being read; the option files are still being read; tls\n");
}

}  // namespace
