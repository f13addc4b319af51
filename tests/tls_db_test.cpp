// A remote panel database that accepts only TLS: a private server of its
// own with require_secure_transport, a CA and a certificate made here; and
// a second one that offers no TLS at all, as a man in the middle would.
#include <algorithm>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/accounts.h"
#include "harness/database.h"
#include "harness/fake_dpkg_query.h"
#include "harness/sandbox.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string STATE = std::string(VERSTALLY_TEST_STATE_DIR) + "/tls";
std::map<std::string, DatabaseFacts> servers;

void startServer(const std::string& name, const std::vector<std::string>& options) {
    servers[name] = startPrivateServer(STATE + "/" + name, std::string(VERSTALLY_SOURCE_DIR) + "/sql/schema.sql",
                                       getpid(), options);
}

// A server's count of sessions that ended without the client's goodbye.
std::string abortedClients(const std::string& name) {
    RootConnection root("", servers.at(name).socket);
    return root.query("SHOW GLOBAL STATUS LIKE 'Aborted_clients'").at(0).at(1).value_or("");
}

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A CA, a server certificate for 127.0.0.1 signed by it, a CA that
        // signed nothing here, a list that revokes the server's
        // certificate, and a FIFO.
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
        const std::string ca = "openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem";
        const std::string make = "set -e; rm -rf '" + STATE + "'; mkdir -p '" + STATE + "'; cd '" + STATE +
                                 "'; openssl req -x509 " + key + " -keyout ca.key -out ca.pem -subj /CN=panel-ca; "
                                 "openssl req -x509 " + key + " -keyout other.key -out other.pem -subj /CN=other-ca; "
                                 "openssl req " + key + " -keyout server.key -out server.csr -subj /CN=127.0.0.1; "
                                 "printf 'subjectAltName=IP:127.0.0.1\\n' > san; openssl x509 -req -in server.csr "
                                 "-CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san -out server.pem; "
                                 "printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=index\\ndefault_md=sha256\\n"
                                 "default_crl_days=2\\n' > ca.cnf; touch index; " + ca + " -revoke server.pem; " +
                                 ca + " -gencrl -out crl.pem; mkfifo fifo.pem";
        ASSERT_EQ(std::system(("(" + make + ") >/dev/null 2>&1").c_str()), 0) << "openssl";
        startServer("db", {"--ssl-ca=" + STATE + "/ca.pem", "--ssl-cert=" + STATE + "/server.pem",
                           "--ssl-key=" + STATE + "/server.key", "--require-secure-transport=ON"});
        startServer("plain", {"--skip-ssl"});
        // A server that makes its own certificate (MariaDB 11.4 and later) on
        // an address the client library does not take for a local one.
        RootConnection root;
        if (mysql_get_server_version(root.handle()) < 110400)
            return (void)(noSelfServer = std::string("the server is ") + mysql_get_server_info(root.handle()));
        startServer("self", {"--ssl", "--bind-address=127.0.0.2", "--require-secure-transport=ON"});
        RootConnection self("", servers["self"].socket);
        self.exec("CREATE USER nopw@'%'");
        self.exec("GRANT ALL ON *.* TO nopw@'%'");
    }
    static void TearDownTestSuite() {
        for (const char* name : {"db", "plain", "self"}) stopPrivateServer(STATE + "/" + name);
    }
    static std::string noSelfServer;  // why there is none
};
std::string Tls::noSelfServer;

// Only the TLS settings are taken from the option files, from [client] and
// from [verstally] alike, in file order: a [client] group that names
// another host, port, socket, login, password and database changes none of
// the tool's choices. TLS that is asked for is TLS or no connection; with
// libmariadb 3.4, so is TCP that no setting takes out of it.
TEST_F(Tls, OptionFilesGiveTheConnectionsTlsAndNothingElse) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    writePasswordFile(sandbox);
    sandbox.writeProductConf();
    writeAccountFiles(sandbox);
    FakeDpkgQuery dpkg(sandbox, installedRecord("samba", "2:4.17"));
    const std::string home = sandbox.root() + "/home", ca = "ssl-ca=" + STATE + "/ca.pem\n";
    const std::string elsewhere =
        "host=192.0.2.1\nport=1\nsocket=/nonexistent.sock\nuser=nobody\npassword=wrong\ndatabase=nowhere\n";
    const std::string refusedPlain = "failed to connect to database: Error: the server did not use TLS";
    const struct {
        const char* server;
        std::string etc;   // /etc/my.cnf
        std::string home;  // ~/.my.cnf, root's
        std::string out;   // before the version, or the failure's reason (a pattern) in the first line
        bool connects;
        const char* host = "127.0.0.1";
        uid_t homeOwner = 0;
        const char* byDefault = nullptr;  // with libmariadb 3.4, where it differs: a pattern, or "" to connect
        bool noPassword = false;  // the login nopw, without a password
    } cases[] = {
        // Without TLS settings: with 3.3 plain, which the server refuses
        // (MariaDB 10.11, 11.x); with 3.4 TLS, as over TCP by default.
        {"db", "", "", "Access denied|insecure transport", false, "127.0.0.1", 0, ""},
        {"db", "[client]\n" + ca + elsewhere, "", "", true},
        {"db", "", "[client]\n" + elsewhere + "[verstally]\nssl-ca = " + STATE + "/ca.pem\nssl-verify-server-cert\n",
         "", true},
        {"db", "[client-mariadb]\nssl\n", "", "", true},  // no CA: 3.4 checks the fingerprint, 3.3 nothing
        // Root reads no ~/.my.cnf of another user, kept in HOME.
        {"db", "[client]\n" + ca, "[client]\nssl=0\n",
         "verstally: Config file '" + home + "/.my.cnf' does not belong to root and is ignored\n", true, "127.0.0.1",
         65534},
        // Refused: a CA that did not sign the server's certificate, a list
        // that revokes it, a FIFO as CA.
        {"db", "[client]\nssl-ca=" + STATE + "/other.pem\nssl-verify-server-cert=on\n", "", "certificate", false},
        {"db", "[client]\n" + ca + "ssl-crl=" + STATE + "/crl.pem\n", "", "revoked", false},
        // With a CA the host name is checked, verification on or not.
        {"db", "[client]\n" + ca + "ssl-verify-server-cert=0\n", "", "Validation of SSL server|Hostname verif",
         false, "db.example"},
        {"db", "[client]\nssl-ca=" + STATE + "/fifo.pem\n", "", "ssl-ca names '" + STATE + "/fifo.pem', which is not",
         false},
        // With 3.4 over TCP: TLS and verified unless a setting says not.
        {"plain", "", "", "", true, "127.0.0.1", 0, "SSL is required"},
        {"plain", "[client]\nskip-ssl\n", "", "", true},
        {"plain", "[client]\nssl-verify-server-cert=0\n", "", "", true, "127.0.0.1", 0, "over TCP use unless"},
        // The login exchange vouches for a certificate; one without a
        // password cannot.
        {"self", "", "", "insecure transport", false, "127.0.0.2", 0, ""},
        {"self", "", "", "insecure transport", false, "127.0.0.2", 0, "self-signed certificate", true},
        {"plain", "[client-server]\nssl\n", "", refusedPlain, false, "127.0.0.1", 0, "SSL is required"},
        {"plain", "[verstally]\n" + ca + "ssl-verify-server-cert=0\n", "", "SSL is required", false},
        {"plain", "[client]\n" + ca + "ssl-verify-server-cert\n", "[client]\nskip-ssl\n", "SSL is required", false},
    };
    // Read after /etc/my.cnf, but world-writable: ignored.
    sandbox.writeFile("/etc/mysql/conf.d/zz.cnf", "[client]\nskip-ssl\n", 0666);
    sandbox.writeFile("/etc/mysql/my.cnf", "[client]\n!includedir /etc/mysql/conf.d\n");
    sandbox.writeFile("/etc/hosts", "127.0.0.1 localhost db.example\n");
    const bool byDefault = mysql_get_client_version() >= 30400;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.etc + "~:\n" + c.home);
        if (std::string(c.server) == "self" && !noSelfServer.empty()) {
            rowNotRun("a server that makes its own certificate", noSelfServer + "; only 11.4 and later do");
            continue;
        }
        sandbox.writeFile("/etc/my.cnf", c.etc);
        sandbox.writeFile(home + "/.my.cnf", c.home);
        ASSERT_EQ(chown((home + "/.my.cnf").c_str(), c.homeOwner, c.homeOwner), 0);
        sandbox.writeFile(ADMIN_PASSWORD_FILE, c.noPassword ? "" : databaseFacts().password, 0600);
        const std::string port = std::to_string(servers[c.server].port);
        const std::string expected = byDefault && c.byDefault != nullptr ? c.byDefault : c.out;
        const bool connects = byDefault && c.byDefault != nullptr ? expected.empty() : c.connects;
        for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"samba"}}) {
            ToolRun run;
            run.args = args;
            run.env = {{"ZEV_DB_HOST", c.host}, {"ZEV_DB_PORT", port}, {"HOME", home}};
            if (c.noPassword) run.env["ZEV_DB_LOGIN"] = "nopw";
            const Outcome r = runTool(sandbox, run);
            const std::string warning = "verstally: World-writable config file '/etc/mysql/conf.d/zz.cnf' is ignored\n";
            EXPECT_EQ(r.status, connects ? 0 : 1) << r.err;
            ASSERT_THAT(r.out, StartsWith(warning));
            const std::string out = r.out.substr(warning.size()), first = out.substr(0, out.find('\n'));
            if (connects) {
                EXPECT_EQ(out, expected + (args.empty() ? "" : "samba:2:4.17\n"));
                continue;
            }
            EXPECT_THAT(first, StartsWith("verstally: db_connect: "));
            EXPECT_THAT(first, ContainsRegex(expected));
            EXPECT_EQ(out.substr(std::min(out.size(), first.size() + 1)),
                      "verstally: Unable to connect to the mysql database\n");
        }
    }
    // A run that fails once connected, with both connections open (the
    // last case's settings reach the TLS server).
    ToolRun run;
    run.args = {"unknown"};
    run.env = {{"ZEV_DB_HOST", "127.0.0.1"}, {"HOME", home},
               {"ZEV_DB_PORT", std::to_string(servers["db"].port)}};
    EXPECT_THAT(runTool(sandbox, run).err, HasSubstr("Package 'unknown' is not found"));
    // Every session the tool opened, on every path, ended with its goodbye.
    for (const char* server : {"db", "plain", noSelfServer.empty() ? "self" : "plain"})
        EXPECT_EQ(abortedClients(server), "0") << server;
}

}  // namespace
