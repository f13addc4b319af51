#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "db/tls_options.h"

namespace {

std::string summary(const TlsOptions& o) {
    return std::to_string(o.ssl) + "|" + std::to_string(o.verify_server_cert) + "|" + o.ca + "|" + o.capath + "|" +
           o.cert + "|" + o.key + "|" + o.cipher + "|" + o.version + "|" + (o.wanted() ? "tls" : "plain");
}

// The option-file syntax as MariaDB's clients read it, for the settings
// taken here and nothing else.
TEST(TlsOptions, OptionFilesAreReadAsMariadbClientsReadThem) {
    char dir[] = "/var/tmp/verstally-tls.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string base = dir;
    auto write = [](const std::string& path, const std::string& text) {
        FILE* file = std::fopen(path.c_str(), "w");
        std::fputs(text.c_str(), file);
        std::fclose(file);
    };
    ASSERT_EQ(mkdir((base + "/more").c_str(), 0755), 0);
    write(base + "/more/b.cnf", "[client]\nssl-key = /k.pem\n");
    write(base + "/more/a.cnf", "[client]\nssl-key = /first.pem\nssl-cert = /c.pem\n");
    write(base + "/more/ignored.txt", "[client]\nssl-cipher = NOT-READ\n");
    write(base + "/extra.cnf", "[verstally]\ntls_version=TLSv1.3\n");
    const std::pair<std::string, std::string> cases[] = {
        {"", "-1|0|||||||plain"},
        // Other groups and other settings are not read; group names in any case.
        {"[mysqld]\nssl-ca=/server.pem\n[client]\nhost=elsewhere\nport=1\n", "-1|0|||||||plain"},
        {"[CLIENT]\nssl-ca = /ca.pem  # a comment\n", "-1|0|/ca.pem||||||tls"},
        {"[client-mariadb]\nssl-ca=\"/with space#.pem\"\n[client]\nssl-ca='/later.pem'\n", "-1|0|/later.pem||||||tls"},
        {"[client-server]\nloose_ssl_capath=/dir\\sx\n", "-1|0||/dir x|||||tls"},
        {"[verstally]\nssl\nssl-verify-server-cert\n", "1|1|||||||tls"},
        {"[client]\nssl-ca=/ca.pem\nskip-ssl\ndisable-ssl-verify-server-cert\n", "0|0|/ca.pem||||||plain"},
        {"[client]\nssl=OFF\nenable-ssl\nssl-verify-server-cert=0\n", "1|0|||||||tls"},
        {"ssl-ca=/before-any-group.pem\n[client]\n# ssl-ca=/commented.pem\n; ssl\n", "-1|0|||||||plain"},
        {"[client]\n!includedir " + base + "/more\n!include " + base + "/extra.cnf\nssl-cipher=ECDHE\n",
         "-1|0|||/c.pem|/k.pem|ECDHE|TLSv1.3|tls"},
    };
    for (const auto& c : cases) {
        write(base + "/my.cnf", c.first);
        TlsOptions options;
        read_tls_option_file((base + "/my.cnf").c_str(), options);
        EXPECT_EQ(summary(options), c.second) << c.first;
    }
    TlsOptions untouched;
    read_tls_option_file((base + "/missing.cnf").c_str(), untouched);
    EXPECT_EQ(summary(untouched), "-1|0|||||||plain");
    std::system(("rm -rf " + base).c_str());
}

}  // namespace
