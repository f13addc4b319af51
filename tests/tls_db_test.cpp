// A remote panel database that accepts only TLS: a private server of its
// own with require_secure_transport, a CA and a certificate made here.
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

#include "harness/accounts.h"
#include "harness/database.h"
#include "harness/fake_dpkg_query.h"
#include "harness/sandbox.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string STATE = std::string(VERSTALLY_TEST_STATE_DIR) + "/tls";
const std::string FIXTURE = std::string(VERSTALLY_SOURCE_DIR) + "/tests/harness/mariadb-fixture";

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A CA, a server certificate for 127.0.0.1 signed by it, and a CA
        // that signed nothing here.
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
        const std::string make = "set -e; rm -rf '" + STATE + "'; mkdir -p '" + STATE + "'; cd '" + STATE +
                                 "'; openssl req -x509 " + key + " -keyout ca.key -out ca.pem -subj /CN=panel-ca; "
                                 "openssl req -x509 " + key + " -keyout other.key -out other.pem -subj /CN=other-ca; "
                                 "openssl req " + key + " -keyout server.key -out server.csr -subj /CN=127.0.0.1; "
                                 "printf 'subjectAltName=IP:127.0.0.1\\n' > san; openssl x509 -req -in server.csr "
                                 "-CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san -out server.pem";
        ASSERT_EQ(std::system(("(" + make + ") >/dev/null 2>&1").c_str()), 0) << "openssl";
        const std::string start = "MARIADB_FIXTURE_OPTIONS='--ssl-ca=" + STATE + "/ca.pem --ssl-cert=" + STATE +
                                  "/server.pem --ssl-key=" + STATE + "/server.key --require-secure-transport=ON' '" +
                                  FIXTURE + "' start '" + STATE + "/db' '" + VERSTALLY_SOURCE_DIR + "/sql/schema.sql'";
        ASSERT_EQ(std::system((start + " >/dev/null").c_str()), 0);
    }
    static void TearDownTestSuite() { std::system(("'" + FIXTURE + "' stop '" + STATE + "/db'").c_str()); }
};

// Only the TLS settings are taken from the option files, from [client] and
// from [verstally] alike: a [client] group that names another host, port,
// socket, login, password and database changes none of the tool's choices.
TEST_F(Tls, OptionFilesGiveTheConnectionsTlsAndNothingElse) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    writePasswordFile(sandbox);
    sandbox.writeProductConf();
    writeAccountFiles(sandbox);
    FakeDpkgQuery dpkg(sandbox, installedRecord("samba", "2:4.17"));
    const std::string home = sandbox.root() + "/home";
    const std::string port = std::to_string(readDatabaseFacts(STATE + "/db/mariadb.facts").port);
    const std::string elsewhere =
        "host=192.0.2.1\nport=1\nsocket=/nonexistent.sock\nuser=nobody\npassword=wrong\ndatabase=nowhere\n";
    const struct {
        const char* where;
        std::string text;
        bool connects;
        const char* reason;  // in the failure's first line
    } cases[] = {
        // Without TLS the server refuses the login.
        {"/etc/mysql/my.cnf", "", false, "Access denied"},
        {"/etc/mysql/my.cnf", "[client]\nssl-ca=" + STATE + "/ca.pem\n" + elsewhere, true, ""},
        {"/home/.my.cnf",
         "[client]\n" + elsewhere + "[verstally]\nssl-ca = " + STATE + "/ca.pem\nssl-verify-server-cert\n", true, ""},
        {"/etc/mysql/my.cnf", "[client-mariadb]\nssl\n", true, ""},  // TLS without a CA to check against
        // A CA that did not sign the server's certificate: the library's reason.
        {"/etc/my.cnf", "[client]\nssl-ca=" + STATE + "/other.pem\nssl-verify-server-cert=on\n", false, "certificate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        for (const char* file : {"/etc/mysql/my.cnf", "/etc/my.cnf"}) sandbox.writeFile(file, "");
        sandbox.writeFile(home + "/.my.cnf", "");
        sandbox.writeFile(std::string(c.where) == "/home/.my.cnf" ? home + "/.my.cnf" : c.where, c.text);
        for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"samba"}}) {
            ToolRun run;
            run.args = args;
            run.env = {{"ZEV_DB_HOST", "127.0.0.1"}, {"ZEV_DB_PORT", port}, {"HOME", home}};
            const Outcome r = runTool(sandbox, run);
            EXPECT_EQ(r.status, c.connects ? 0 : 1) << r.err;
            if (c.connects)
                EXPECT_EQ(r.out, args.empty() ? "" : "samba:2:4.17\n");
            else
                EXPECT_THAT(r.err.substr(0, r.err.find('\n')),
                            AllOf(StartsWith("verstally: db_connect: failed to connect to database: Error: "),
                                  HasSubstr(c.reason)));
        }
    }
}

}  // namespace
