// Domain queries against the private server: answers, missing rows,
// refused arguments, failures and the fatal cases; a server that is down
// and the closing of private connections, for the parameter store too.
#include <cstdio>
#include <cstring>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/domain_queries.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string shown(const char* value) { return value != nullptr ? "[" + std::string(value) + "]" : "<none>"; }

/// A connection of the code under test (inside the child).
MYSQL* connectOrDie() {
    char message[DB_MESSAGE_BUFFER_SIZE];
    MYSQL* db = db_connect(message, sizeof message);
    if (db == nullptr) {
        std::fprintf(stderr, "db_connect failed: %s\n", message);
        std::exit(99);
    }
    return db;
}

class DomainQueries : public LibraryWithDatabase {
protected:
    void SetUp() override {
        LibraryWithDatabase::SetUp();
        if (IsSkipped()) return;
        db.exec("INSERT INTO clients VALUES (100, 'owner@example.test'), (101, ''), (102, NULL)");
        db.exec("INSERT INTO domains (id, name, status, htype, params_id, limits_id, cl_id) VALUES "
                "(1, 'example.test', 3, 'vrt_hst', 10, 20, 100), (2, 'Mixed.Case.TEST', NULL, NULL, NULL, NULL, 101), "
                "(3, 'xn--bcher-kva.test', 7, NULL, NULL, NULL, 102), (4, 'www-sub.test', 0, NULL, NULL, NULL, 100), "
                "(5, 'nowww.test', 0, NULL, NULL, NULL, 100)");
        db.exec("INSERT INTO IP_Addresses VALUES (1, '192.0.2.10'), (2, '192.0.2.20')");
        db.exec("INSERT INTO hosting VALUES (1, 1, 'true_and_more', 'false'), (2, 2, 'tru', 'true'), "
                "(4, 1, NULL, NULL)");
        db.exec("INSERT INTO dom_param VALUES (1, 'cgi', 'on'), (1, 'nullp', NULL), (1, 'long', REPEAT('v', 5000))");
        db.exec("INSERT INTO Parameters VALUES (10, 'quota', '500'), (30, 'php', 'enabled')");
        db.exec("INSERT INTO DomainServices (dom_id, type, parameters_id) VALUES (1, 'mail', 30)");
        db.exec("INSERT INTO Limits VALUES (20, 'max_box', '25')");
        db.exec("INSERT INTO dns_recs (dom_id, type, host) VALUES (1, 'A', 'www.example.test.'), "
                "(4, 'CNAME', 'www.www-sub.test.'), (5, 'MX', 'www.nowww.test.'), (5, 'A', 'wwwx.nowww.test.')");
        db.exec("INSERT INTO subdomains (dom_id, name) VALUES (4, 'www'), (1, 'mail')");
        db.exec("INSERT INTO anon_ftp VALUES (1, 'true'), (2, 'false')");
        db.exec("INSERT INTO misc VALUES ('admin_email', 'admin@panel.test')");
    }
    std::string missingTable(const std::string& table) {
        return "Table '" + db.name() + "." + table + "' doesn't exist";
    }

    // Text that no statement of the set-up contains.
    const std::string marker = "mk" + db.name();
};

TEST_F(DomainQueries, ValueReadersAnswerOrGiveEmptyForNoRow) {
    Outcome r = inside([] {
        const char* ip = get_ip_address("1");
        std::printf("ip=%s", shown(ip).c_str());
        std::printf(" %s\n", shown(get_ip_address("99")).c_str());
        ip = get_ip_address("2");
        std::printf("param=%s %s %s\n", shown(get_dom_param("1", "cgi")).c_str(),
                    shown(get_dom_param("1", "nullp")).c_str(), shown(get_dom_param("2", "cgi")).c_str());
        std::printf("parameter=%s %s\n", shown(get_dom_parameter("1", "quota")).c_str(),
                    shown(get_dom_parameter("2", "quota")).c_str());
        std::printf("service=%s %s\n", shown(get_dom_service_param("1", "mail", "php")).c_str(),
                    shown(get_dom_service_param("1", "web", "php")).c_str());
        std::printf("limit=%s %s\n", shown(get_dom_limit("1", "max_box")).c_str(),
                    shown(get_dom_limit("1", "max_db")).c_str());
        // Each routine has a buffer of its own.
        std::printf("ip still=%s\n", shown(ip).c_str());
        std::printf("long=%zu\n", std::strlen(get_dom_param("1", "long")));
    });
    EXPECT_EQ(r.out,
              "ip=[192.0.2.10] []\nparam=[on] [] []\nparameter=[500] []\nservice=[enabled] []\nlimit=[25] []\n"
              "ip still=[192.0.2.20]\nlong=4095\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(DomainQueries, EmailFallsBackToTheAdminAddress) {
    Outcome r = inside([] {
        for (const char* id : {"1", "2", "3", "99"}) std::printf("%s=%s\n", id, shown(get_dom_email(id)).c_str());
    });
    EXPECT_EQ(r.out, "1=[owner@example.test]\n2=[admin@panel.test]\n3=[admin@panel.test]\n99=[admin@panel.test]\n");
    db.exec("UPDATE misc SET val = '' WHERE param = 'admin_email'");
    r = inside([] { std::printf("%s %s\n", shown(get_dom_email("1")).c_str(), shown(get_dom_email("2")).c_str()); });
    EXPECT_EQ(r.out, "verstally: Unable to define admin email\n[owner@example.test] <none>\n");
    EXPECT_EQ(r.err, "verstally: Unable to define admin email\n");
}

TEST_F(DomainQueries, YesNoQuestions) {
    Outcome r = inside([] {
        std::printf("www=%d %d %d %d\n", has_www_prefix("1"), has_www_prefix("4"), has_www_prefix("5"),
                    has_www_prefix("99"));
        std::printf("ftp=%d %d %d\n", anon_ftp_enabled("1"), anon_ftp_enabled("2"), anon_ftp_enabled("3"));
        std::printf("fp=%d %d %d %d %d %d\n", frontpage_enabled("example.test", 0), frontpage_enabled("example.test", 1),
                    frontpage_enabled("Mixed.Case.TEST", 0), frontpage_enabled("Mixed.Case.TEST", 7),
                    frontpage_enabled("www-sub.test", 0), frontpage_enabled("none.test", 0));
    });
    EXPECT_EQ(r.out, "www=1 0 0 0\nftp=1 0 0\nfp=1 0 0 1 0 0\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(DomainQueries, StatusIsReadAndSet) {
    Outcome r = inside([] {
        MYSQL* connection = connectOrDie();
        unsigned status = 42;
        int result = get_dom_status("1", &status, connection);
        std::printf("%d %u\n", result, status);
        status = 42;
        result = get_dom_status("2", &status, connection);
        std::printf("%d %u\n", result, status);
        result = get_dom_status("99", &status, connection);
        std::printf("%d %u\n", result, status);
        std::printf("%d", set_dom_status("1", 4000000000u, connection));
        std::printf(" %d", get_dom_status("1", &status, connection));
        std::printf(" %u\n", status);
        std::printf("%d", get_dom_status("1", &status, nullptr));
        std::printf(" %d\n", set_dom_status("1", 1, nullptr));
        mysql_close(connection);
    });
    EXPECT_EQ(r.out,
              "0 3\n"
              "verstally: Unable to get status for domain with id=\"2\": error translate status value from char to "
              "unsigned int.\n-3 42\n"
              "verstally: Unable to get status for domain with id=\"99\": such domain is not exist.\n-2 42\n"
              "0 0 4000000000\n"
              "verstally: Unable to get status for domain with id=\"1\": no connection given\n-1"
              "verstally: Unable to update status for domain with id=\"1\": no connection given.\n -1\n");
    EXPECT_EQ(db.query("SELECT id, status FROM domains ORDER BY id"),
              (std::vector<DbRow>{{"1", "4000000000"}, {"2", std::nullopt}, {"3", "7"}, {"4", "0"}, {"5", "0"}}));
}

TEST_F(DomainQueries, DomainIdIsFoundByItsAsciiForm) {
    Outcome r = inside([] {
        std::printf("%s %s %s\n", shown(get_dom_id("example.test")).c_str(), shown(get_dom_id("EXAMPLE.test")).c_str(),
                    shown(get_dom_id("b\xc3\xbc" "cher.test")).c_str());
    });
    EXPECT_EQ(r.out, "[1] [1] [3]\n");
    EXPECT_EQ(db.statementsMentioning("name='xn--bcher-kva.test'").size(), 1u);

    // A missing domain ends the program, named as the caller gave it.
    r = inside([] { get_dom_id("b\xc3\xbc" "cher-fehlt.test"); });
    EXPECT_TRUE(r.exited && r.status == 1) << r.status;
    EXPECT_EQ(r.out, "verstally: get_dom_id(): domains record not found in DB for 'b\xc3\xbc" "cher-fehlt.test'\n");
    EXPECT_EQ(r.err, r.out);
    r = inside([] { get_dom_id((std::string(64, 'a') + ".test").c_str()); });
    EXPECT_TRUE(r.exited && r.status == 1) << r.status;
    EXPECT_EQ(r.out, "verstally: idn_toascii() failed: Invalid length\n");
}

TEST_F(DomainQueries, DomainNameIsLowerCasedInTheSharedBuffer) {
    Outcome r = inside([] {
        const char* name = get_dom_name("mixed.case.test");
        std::printf("%s %s\n", shown(name).c_str(), shown(get_dom_name("none.test")).c_str());
        const char* lowered = lowercase_copy("\xc3\x84" "BC.Test");
        std::printf("%s %d %s\n", shown(lowered).c_str(), lowered == name, shown(lowercase_copy(nullptr)).c_str());
        std::printf("%zu\n", std::strlen(lowercase_copy(std::string(5000, 'Q').c_str())));
    });
    EXPECT_EQ(r.out, "[mixed.case.test] <none>\n[\xc3\x84" "bc.test] 1 <none>\n4095\n");
}

TEST_F(DomainQueries, NextTableId) {
    db.exec("CREATE TABLE empty_ids (id INT)");
    db.exec("CREATE TABLE text_ids (id VARCHAR(8))");
    db.exec("INSERT INTO text_ids VALUES ('abc')");
    Outcome r = inside([] {
        std::printf("%ld %ld %ld\n", next_table_id("clients"), next_table_id("empty_ids"), next_table_id("domains"));
        std::printf("%ld\n", next_table_id("text_ids"));
        std::printf("%ld\n", next_table_id("clients; drop table misc"));
        std::printf("%ld\n", next_table_id("mysql.user"));
        std::printf("%ld\n", next_table_id("nosuch"));
    });
    EXPECT_EQ(r.out, "103 1 6\n"
                     "verstally: Unable to define max id: the largest id of text_ids, 'abc', has no successor\n0\n"
                     "verstally: Unable to define max id: 'clients; drop table misc' is not a plain table name\n0\n"
                     "verstally: Unable to define max id: 'mysql.user' is not a plain table name\n0\n"
                     "verstally: Unable to define max id: " + missingTable("nosuch") + "\n0\n");
    EXPECT_EQ(db.statementsMentioning("drop table misc"), std::vector<std::string>{});
    EXPECT_EQ(db.scalar("SELECT count(*) FROM misc"), "1");
}

TEST_F(DomainQueries, StatementsAreSentAsWritten) {
    // A domain id no set-up statement holds; names and tables carry it too.
    const std::string n = "4123456789";
    const std::string m = "t" + n;
    db.exec("CREATE TABLE " + m + " (id INT)");
    Outcome r = inside([&] {
        const char* id = n.c_str();
        const char* name = m.c_str();
        MYSQL* connection = connectOrDie();
        unsigned status = 0;
        get_ip_address(id);
        get_dom_status(id, &status, connection);
        set_dom_status(id, 5, connection);
        get_dom_param(id, name);
        get_dom_parameter(id, name);
        get_dom_service_param(id, name, name);
        get_dom_limit(id, name);
        has_www_prefix(id);
        anon_ftp_enabled(id);
        frontpage_enabled(name, 0);
        frontpage_enabled(name, 1);
        get_dom_email(id);
        get_dom_name(name);
        std::printf("%ld\n", next_table_id(name));
        get_dom_id(name);  // last: there is no such domain
    });
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> expected = {
        "select ipa.ip_address from domains d, hosting h, IP_Addresses ipa where d.id='N' and d.id=h.dom_id and "
        "h.ip_address_id=ipa.id",
        "select status from domains where id=\"N\"",
        "update domains set status=5 where id=\"N\"",
        "select val from dom_param where dom_id='N' and param='tN'",
        "select r.value from domains d, Parameters r \t\twhere d.id='N' and d.params_id=r.id and r.parameter='tN'",
        "select r.value from DomainServices s, Parameters r \t\t\t\t where s.dom_id='N' and s.type='tN' and "
        "s.parameters_id=r.id  and r.parameter='tN'",
        "select l.value from domains d, Limits l \t\t\t\t where d.id='N' and d.limits_id=l.id  and l.limit_name='tN'",
        "select * from domains dom, dns_recs dns \t\twhere dom.id='N' and dom.id=dns.dom_id and ((dns.type='A') or "
        "(dns.type='CNAME')) \t\tand dns.host like 'www.%'",
        "select a.status from domains d, anon_ftp a \t\t\t\t\t\t\t\t\twhere d.id='N' and a.dom_id=d.id",
        "select h.fp from domains d, hosting h \t\t\t\t\t\t\t\t\twhere d.name='tN' and h.dom_id=d.id",
        "select h.fp_ssl from domains d, hosting h \t\t\t\t\t\t\t\t\twhere d.name='tN' and h.dom_id=d.id",
        "select c.email from domains d, clients c \t\t\t\t\t\t\t\t\twhere d.cl_id=c.id and d.id='N'",
        "select name from domains where name='tN'",
        "SELECT max(id) FROM tN",
        "select id from domains where name='tN'",
    };
    std::vector<std::string> sent = db.statementsMentioning(n);
    ASSERT_FALSE(sent.empty());
    sent.erase(sent.begin());  // the test's own CREATE TABLE
    for (std::string& statement : sent) {
        for (std::size_t at; (at = statement.find(n)) != std::string::npos;) statement.replace(at, n.size(), "N");
    }
    EXPECT_EQ(sent, expected);
    // The second www question is asked only when there are www. records.
    r = inside([] { has_www_prefix("4"); });
    const auto subdomain = db.statementsMentioning("select * from subdomains \t\t\twhere dom_id='4' and name='www'");
    EXPECT_FALSE(subdomain.empty());
}

TEST_F(DomainQueries, CheckedArgumentsWithQuotesOrBackslashesSendNothing) {
    const std::string m = marker;
    DeadServer dead;
    auto attempts = [&] {
        const char* id = m.c_str();
        std::printf("%s", shown(get_dom_param(id, (m + "\\").c_str())).c_str());
        std::printf(" %s", shown(get_dom_parameter(id, (m + "'").c_str())).c_str());
        std::printf(" %s", shown(get_dom_service_param(id, "web\"", id)).c_str());
        std::printf(" %s", shown(get_dom_service_param(id, "web", (m + "\\").c_str())).c_str());
        std::printf(" %s", shown(get_dom_limit(id, (m + "'").c_str())).c_str());
        std::printf(" %d", frontpage_enabled((m + "'").c_str(), 1));
        std::printf(" %s", shown(get_dom_name((m + "\\").c_str())).c_str());
        std::printf(" %s", shown(get_dom_id((m + "'").c_str())).c_str());
    };
    Outcome r = inside(attempts);
    EXPECT_EQ(r.out, "<none> <none> <none> <none> <none> 0 <none> <none>");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(db.statementsMentioning(m), std::vector<std::string>{});
    // Refused before any connection: a server that is down says nothing.
    r = inside(attempts, dead.tcpEnv(db.name()));
    EXPECT_EQ(r.out, "<none> <none> <none> <none> <none> 0 <none> <none>");
    EXPECT_EQ(r.err, "");
}

TEST_F(DomainQueries, IdsThatAreNoDecimalNumberOfTheColumnAreRefused) {
    // The server would read each of these ids as a number: 1, 0 or the
    // column's largest value.
    const std::string refused = std::string(": ") + NOT_A_DOMAIN_ID;
    const struct {
        void (*call)(MYSQL*);
        std::string message;
        std::string result;
    } cases[] = {
        {[](MYSQL*) { std::printf("%s", shown(get_ip_address("1' or '1'='1")).c_str()); },
         "Unable to query IP address" + refused + "\n", "<none>"},
        {[](MYSQL* c) { std::printf("%d", get_dom_status("1abc", nullptr, c)); },
         "Unable to get status for domain with id=\"1abc\"" + refused + "\n", "-1"},
        {[](MYSQL* c) { std::printf("%d", set_dom_status(" 1", 9, c)); },
         "Unable to update status for domain with id=\" 1\"" + refused + ".\n", "-1"},
        {[](MYSQL*) { std::printf("%s", shown(get_dom_param("+1", "cgi")).c_str()); },
         "Unable to query domain parameter cgi" + refused + "\n", "<none>"},
        {[](MYSQL*) { std::printf("%s", shown(get_dom_parameter("1.0", "quota")).c_str()); },
         "Unable to query domain parameter quota" + refused + "\n", "<none>"},
        {[](MYSQL*) { std::printf("%s", shown(get_dom_service_param("1e0", "mail", "php")).c_str()); },
         "Unable to query domain parameter php" + refused + "\n", "<none>"},
        {[](MYSQL*) { std::printf("%s", shown(get_dom_limit("4294967296", "max_box")).c_str()); },
         "Unable to query domain limit max_box" + refused + "\n", "<none>"},
        {[](MYSQL*) { std::printf("%d", has_www_prefix("1 ")); }, "Unable to query www prefix" + refused + "\n", "-1"},
        {[](MYSQL*) { std::printf("%d", anon_ftp_enabled("01x")); }, "Unable to query anon_ftp" + refused + "\n", "0"},
        {[](MYSQL*) { std::printf("%s", shown(get_dom_email("")).c_str()); },
         "Unable to define clients email" + refused + "\n", "<none>"},
        {[](MYSQL*) { std::printf("%s", shown(get_dom_htype("1;")).c_str()); },
         "Unable to query htype from domains" + refused + "\n", "<none>"},
        {[](MYSQL*) { std::printf("%d", put_dom_param("-1", "cgi", "off")); },
         "Unable to put parameter cgi into dom_param" + refused + "\n", "-1"},
        {[](MYSQL*) { std::printf("%d", delete_dom_param("1' or '1'='1", "cgi")); },
         "Unable to delete parameter cgi from dom_param" + refused + "\n", "-1"},
    };
    DeadServer dead;
    for (const auto& c : cases) {
        const std::string warning = "verstally: " + c.message;
        Outcome r = inside([&] { c.call(connectOrDie()); });
        EXPECT_EQ(r.out, warning + c.result);
        EXPECT_EQ(r.err, warning);
        // Refused before any connection: a server that is down says no more.
        r = inside([&] { c.call(nullptr); }, dead.tcpEnv(db.name()));
        EXPECT_EQ(r.out, warning + c.result);
    }
    EXPECT_EQ(db.query("SELECT dom_id, param, val FROM dom_param WHERE param = 'cgi'"),
              (std::vector<DbRow>{{"1", "cgi", "on"}}));
    EXPECT_EQ(db.scalar("SELECT status FROM domains WHERE id = 1"), "3");
}

TEST_F(DomainQueries, ServerErrorsGiveEachRoutinesText) {
    // The www. records are there, the subdomains are not.
    db.exec("DROP TABLE subdomains");
    Outcome r = inside([] { std::printf("%d\n", has_www_prefix("1")); });
    EXPECT_EQ(r.out, "verstally: Unable to query www subdomain: " + missingTable("subdomains") + "\n-1\n");
    for (const char* table : {"IP_Addresses", "dom_param", "Parameters", "Limits", "dns_recs", "anon_ftp", "hosting",
                              "clients"})
        db.exec(std::string("DROP TABLE ") + table);
    r = inside([] {
        std::printf("%s\n", shown(get_ip_address("1")).c_str());
        std::printf("%s\n", shown(get_dom_param("1", "cgi")).c_str());
        std::printf("%s\n", shown(get_dom_parameter("1", "quota")).c_str());
        std::printf("%s\n", shown(get_dom_service_param("1", "mail", "php")).c_str());
        std::printf("%s\n", shown(get_dom_limit("1", "max_box")).c_str());
        std::printf("%d\n", has_www_prefix("1"));
        std::printf("%d\n", anon_ftp_enabled("1"));
        std::printf("%d\n", frontpage_enabled("example.test", 0));
        std::printf("%s\n", shown(get_dom_email("1")).c_str());
        std::printf("%s\n", shown(get_dom_limit("1", std::string(5000, 'l').c_str())).c_str());
    });
    const std::string w = "verstally: ";
    EXPECT_EQ(r.out, w + "Unable to query IP address: " + missingTable("hosting") + "\n<none>\n" +
                         w + "Unable to query domain parameter cgi: " + missingTable("dom_param") + "\n<none>\n" +
                         w + "Unable to query domain parameter quota: " + missingTable("Parameters") + "\n<none>\n" +
                         w + "Unable to query domain parameter php: " + missingTable("Parameters") + "\n<none>\n" +
                         w + "Unable to query domain limit max_box: " + missingTable("Limits") + "\n<none>\n" +
                         w + "Unable to query www prefix: " + missingTable("dns_recs") + "\n-1\n" +
                         w + "Unable to query anon_ftp: " + missingTable("anon_ftp") + "\n0\n" +
                         w + "Unable to query frontpage status: " + missingTable("hosting") + "\n0\n" +
                         w + "Unable to define clients email: " + missingTable("clients") + "\n<none>\n" +
                         w + "Unable to query domain limit " + std::string(5000, 'l') +
                         ": the statement would exceed 4095 characters and was not sent\n<none>\n");

    db.exec("DROP TABLE domains");
    r = inside([] {
        MYSQL* connection = connectOrDie();
        unsigned status = 0;
        std::printf("%d\n", get_dom_status("1", &status, connection));
        std::printf("%d\n", set_dom_status("1", 2, connection));
    });
    EXPECT_EQ(r.out, w + "Unable to get status for domain with id=\"1\": " + missingTable("domains") + "\n-1\n" + w +
                         "Unable to update status for domain with id=\"1\": " + missingTable("domains") + ".\n-1\n");
    const std::pair<void (*)(), std::string> fatal[] = {
        {[] { get_dom_id("example.test"); }, "Unable to query domain ID: "},
        {[] { get_dom_name("example.test"); }, "Unable to query domain name: "},
    };
    for (const auto& c : fatal) {
        r = inside(c.first);
        EXPECT_TRUE(r.exited && r.status == 1) << r.status;
        EXPECT_EQ(r.err, w + c.second + missingTable("domains") + "\n");
    }
}

// The tables below run over every routine of the parameter store and of
// the domain queries that opens a private connection.
TEST_F(DomainQueries, ServerDownGivesTheReasonThenTheRoutinesText) {
    DeadServer dead;
    const std::string reason = "verstally: db_connect: failed to connect to database: Error: Can't connect to server on "
                               "'127.0.0.1' (";
    const std::string the = "verstally: Unable to connect to the mysql database\n";
    const std::string writer = "verstally: Unable to connect to mysql database\n";
    struct Case {
        std::function<void()> call;
        std::string warning;
        std::string result;  // printed on standard output only
        int status = 0;
    } cases[] = {
        {[] { std::printf("%d", put_misc_param("p", "v")); }, writer, "-1"},
        {[] { std::printf("%d", delete_parameter("1", "p", nullptr)); }, writer, "-1"},
        {[] { std::printf("%s", shown(get_misc_param("p")).c_str()); }, the, "<none>"},
        {[] { std::printf("%s", shown(query_single_value("select 1")).c_str()); }, the, "<none>"},
        {[] { std::printf("%s", shown(get_ip_address("1")).c_str()); },
         "verstally: get_ip_address: Unable to connect to the mysql database\n", "<none>"},
        {[] { std::printf("%s", shown(get_dom_param("1", "cgi")).c_str()); }, writer, "<none>"},
        {[] { std::printf("%s", shown(get_dom_limit("1", "max_box")).c_str()); }, the, "<none>"},
        {[] { std::printf("%d", has_www_prefix("1")); }, the, "-1"},
        {[] { std::printf("%d", frontpage_enabled("example.test", 1)); }, the, "0"},
        {[] { std::printf("%s", shown(get_dom_email("1")).c_str()); }, the, "<none>"},
        {[] { std::printf("%ld", next_table_id("clients")); }, the, "0"},
        {[] { std::printf("%s", shown(get_dom_id("example.test")).c_str()); }, the, "<none>"},
        {[] { std::printf("%s", shown(get_dom_name("example.test")).c_str()); }, the, "", 1},  // fatal
    };
    for (const Case& c : cases) {
        Outcome r = inside(c.call, dead.tcpEnv(db.name()));
        const std::string reasonLine = r.out.substr(0, r.out.find('\n') + 1);
        EXPECT_THAT(reasonLine, StartsWith(reason));
        EXPECT_EQ(r.out, reasonLine + c.warning + c.result);
        EXPECT_EQ(r.err, reasonLine + c.warning);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST_F(DomainQueries, PrivateConnectionsAreClosed) {
    db.exec("DROP TABLE Limits");
    Outcome r = inside([] {
        for (int i = 0; i < 3; ++i) {
            get_misc_param("x");
            query_single_value("select nosuch");                // server error
            put_misc_param("x", "1");
            put_misc_param("x", std::string(5000, 'v').c_str());  // not sent
            get_ip_address("1");
            get_dom_limit("1", "max_box");                      // server error
            get_dom_limit("1", std::string(5000, 'l').c_str());  // not sent
            has_www_prefix("1");
            has_www_prefix("5");
            get_dom_email("2");
            get_dom_id("example.test");
            get_dom_name("none.test");
            next_table_id("nosuch");
        }
        MYSQL* own = connectOrDie();
        std::fprintf(stderr, "open=%s\n", otherAdminSessions(own).c_str());
    });
    EXPECT_THAT(r.err, HasSubstr("open=0\n"));
}

}  // namespace
