// The parameter store, the domain queries and the component questions
// against the private server: answers, missing rows, refused arguments,
// failures, fatal cases, the statements sent, a server that is down and
// the closing of the private connections they open.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <thread>

#include "db/component_version.h"
#include "db/connection.h"
#include "db/domain_queries.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string shown(const char* value) { return value != nullptr ? "[" + std::string(value) + "]" : "<none>"; }
std::string shown(long value) { return std::to_string(value); }

/// Prints the answers, given in the order they were asked, on one line.
void print(std::initializer_list<std::string> answers) {
    std::string line;
    for (const std::string& answer : answers) line += (line.empty() ? "" : " ") + answer;
    std::printf("%s\n", line.c_str());
}

/// The number of other sessions of the admin login on the database of
/// `own`, once closed ones have had time to leave the server's list.
std::string otherAdminSessions(MYSQL* own) {
    const char* others = nullptr;
    for (int tries = 0; tries < 50; ++tries) {
        others = query_single_value("select count(*) from information_schema.processlist where db = database() and "
                                    "user = 'admin' and id <> connection_id()",
                                    own);
        if (others == nullptr || std::strcmp(others, "0") == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return shown(others);
}

/// A connection of the code under test (inside the child).
MYSQL* connectOrDie() {
    char message[DB_MESSAGE_BUFFER_SIZE];
    MYSQL* db = db_connect(message, sizeof message);
    if (db == nullptr) childFailed(message);
    return db;
}

using ParamStore = LibraryWithDatabase;

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
        db.exec("ALTER TABLE Components DROP PRIMARY KEY");
        db.exec("INSERT INTO Components VALUES ('samba', '3.0'), ('bind', 'not_installed'), "
                "('odd', 'not_installed+1'), ('gone', NULL), ('twice', '1'), ('twice', '2')");
    }
    std::string missingTable(const std::string& t) { return "Table '" + db.name() + "." + t + "' doesn't exist"; }
};

// Readers share one result buffer, cut to its size, and leave a connection
// they are given open; a caller's statement is sent whole, however long.
TEST_F(ParamStore, ReadersFindValuesEmptyRowsAndLiteralKeys) {
    db.exec("INSERT INTO misc VALUES ('cf_instance_type', 'j2ee'), ('nullval', NULL), ('a''b', 'quoted'), "
            "('a', 'plain'), ('b\\\\', 'backslash'), ('long', REPEAT('v', 5000))");
    db.exec("INSERT INTO domains (id, name, htype) VALUES (5, 'example.test', 'vrt_hst')");
    Outcome r = inside([] {
        for (const char* param : {"cf_instance_type", "missing", "nullval", "a'b", "x' or '1'='1", "b\\", "a\\"})
            std::printf("%s=%s\n", param, shown(get_misc_param(param, nullptr)).c_str());
        print({shown(get_dom_htype("5", nullptr)), shown(get_value_by_key("5", "domains", "id", "name", nullptr))});
        MYSQL* connection = connectOrDie();
        const char* first = get_misc_param("a", connection);
        const std::string copy = shown(first);
        const char* second = get_misc_param("a'b", connection);
        print({copy, shown(first == second), shown(first), shown(mysql_ping(connection))});
        const std::string whole = "select '" + std::string(5000, 'w') + "'";
        const bool cut = shown(query_single_value(whole.c_str(), nullptr)) == "[" + std::string(4095, 'w') + "]";
        print({shown(std::strlen(get_misc_param("long", nullptr))), shown(cut)});
    });
    EXPECT_EQ(r.out,
              "cf_instance_type=[j2ee]\nmissing=[]\nnullval=[]\na'b=[quoted]\nx' or '1'='1=[]\nb\\=[backslash]\n"
              "a\\=[]\n[vrt_hst] [example.test]\n[plain] 1 [quoted] 0\n4095 1\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(ParamStore, WritersStoreReplaceAndDelete) {
    Outcome r = inside([] {
        print({shown(put_misc_param("p1", "v1", nullptr)), shown(put_misc_param("p1", "v2", nullptr)),
               shown(put_misc_param("p2", nullptr, nullptr)), shown(put_misc_param("p3", "gone", nullptr)),
               shown(put_dom_param("3", "dp", "dv", nullptr)), shown(put_dom_param("4", "dp", "kept", nullptr)),
               shown(put_parameter("4", "pp", "pv", nullptr)), shown(put_parameter("4", "pq", "kept", nullptr)),
               shown(delete_misc_param("p3", nullptr)), shown(delete_dom_param("3", "dp", nullptr)),
               shown(delete_parameter("4", "pq", "other", nullptr)),
               shown(delete_parameter("4", "pp", nullptr, nullptr))});
    });
    EXPECT_EQ(r.out, "0 0 0 0 0 0 0 0 0 0 0 0\n");
    EXPECT_EQ(db.query("SELECT param, val FROM misc ORDER BY param"),
              (std::vector<DbRow>{{"p1", "v2"}, {"p2", std::nullopt}}));
    EXPECT_EQ(db.query("SELECT dom_id, param, val FROM dom_param"), (std::vector<DbRow>{{"4", "dp", "kept"}}));
    EXPECT_EQ(db.query("SELECT id, parameter, value FROM Parameters"), (std::vector<DbRow>{{"4", "pq", "kept"}}));
}

TEST_F(ParamStore, SetIdsAreEscaped) {
    db.exec("INSERT INTO Parameters VALUES (1, 'p', 'one'), (2, 'p', 'two')");
    const std::string param = "mk" + db.name();
    Outcome r = inside([&] {
        print({shown(put_parameter("7' or 'x", param.c_str(), "v", nullptr)),
               shown(delete_parameter("0' or '1'='1", "p", nullptr, nullptr))});
    });
    // The server sees one text that is no number: the quote did not end it.
    EXPECT_EQ(r.out, "verstally: Unable to put parameter " + param +
                         " into Parameters: Data truncated for column 'id' at row 1\n-1 0\n");
    EXPECT_EQ(db.statementsMentioning(param),
              std::vector<std::string>{"replace into Parameters (id, parameter, value) values('7\\' or \\'x', '" +
                                       param + "', 'v')"});
    EXPECT_EQ(db.query("SELECT id FROM Parameters ORDER BY id"), (std::vector<DbRow>{{"1"}, {"2"}}));
    EXPECT_EQ(db.statementsMentioning("0\\' or \\'1\\'=\\'1").size(), 1u);
}

TEST_F(DomainQueries, ReadersAnswerOrGiveEmptyForNoRow) {
    Outcome r = inside([] {
        print({shown(get_ip_address("1")), shown(get_ip_address("99"))});
        const char* ip = get_ip_address("2");
        print({shown(get_dom_param("1", "cgi")), shown(get_dom_param("1", "nullp")), shown(get_dom_param("2", "cgi")),
               shown(get_dom_parameter("1", "quota")), shown(get_dom_parameter("2", "quota")),
               shown(get_dom_service_param("1", "mail", "php")), shown(get_dom_service_param("1", "web", "php")),
               shown(get_dom_limit("1", "max_box")), shown(get_dom_limit("1", "max_db"))});
        // Each routine has a buffer of its own.
        print({shown(ip), shown(std::strlen(get_dom_param("1", "long")))});
        // A client without an address has the admin's.
        print({shown(get_dom_email("1")), shown(get_dom_email("2")), shown(get_dom_email("3")),
               shown(get_dom_email("99"))});
        print({shown(has_www_prefix("1")), shown(has_www_prefix("4")), shown(has_www_prefix("5")),
               shown(has_www_prefix("99"))});
        print({shown(anon_ftp_enabled("1")), shown(anon_ftp_enabled("2")), shown(anon_ftp_enabled("3"))});
        print({shown(frontpage_enabled("example.test", 0)), shown(frontpage_enabled("example.test", 1)),
               shown(frontpage_enabled("Mixed.Case.TEST", 0)), shown(frontpage_enabled("Mixed.Case.TEST", 7)),
               shown(frontpage_enabled("www-sub.test", 0)), shown(frontpage_enabled("none.test", 0))});
        // The id is found by the name's ASCII form.
        print({shown(get_dom_id("example.test")), shown(get_dom_id("EXAMPLE.test")),
               shown(get_dom_id("b\xc3\xbc" "cher.test"))});
        // The name is lower-cased in the buffer that lowercase_copy shares.
        const char* name = get_dom_name("mixed.case.test");
        print({shown(name), shown(get_dom_name("none.test"))});
        const char* lowered = lowercase_copy("\xc3\x84" "BC.Test");
        print({shown(lowered), shown(lowered == name), shown(lowercase_copy(nullptr)),
               shown(std::strlen(lowercase_copy(std::string(5000, 'Q').c_str())))});
    });
    EXPECT_EQ(r.out, "[192.0.2.10] []\n[on] [] [] [500] [] [enabled] [] [25] []\n[192.0.2.20] 4095\n"
                     "[owner@example.test] [admin@panel.test] [admin@panel.test] [admin@panel.test]\n"
                     "1 0 0 0\n1 0 0\n1 0 0 1 0 0\n[1] [1] [3]\n"
                     "[mixed.case.test] <none>\n[\xc3\x84" "bc.test] 1 <none> 4095\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(db.statementsMentioning("name='xn--bcher-kva.test'").size(), 1u);

    db.exec("UPDATE misc SET val = '' WHERE param = 'admin_email'");
    r = inside([] { print({shown(get_dom_email("1")), shown(get_dom_email("2"))}); });
    EXPECT_EQ(r.out, "verstally: Unable to define admin email\n[owner@example.test] <none>\n");
    EXPECT_EQ(r.err, "verstally: Unable to define admin email\n");
}

TEST_F(DomainQueries, StatusIsReadAndSet) {
    Outcome r = inside([] {
        MYSQL* connection = connectOrDie();
        unsigned status = 42;
        for (const char* id : {"1", "2", "99"}) {
            status = 42;
            print({shown(get_dom_status(id, &status, connection)), std::to_string(status)});
        }
        print({shown(set_dom_status("1", 4000000000u, connection)), shown(get_dom_status("1", &status, connection)),
               std::to_string(status)});
        print({shown(get_dom_status("1", &status, nullptr)), shown(set_dom_status("1", 1, nullptr))});
        mysql_close(connection);
    });
    EXPECT_EQ(r.out,
              "0 3\n"
              "verstally: Unable to get status for domain with id=\"2\": error translate status value from char to "
              "unsigned int.\n-3 42\n"
              "verstally: Unable to get status for domain with id=\"99\": such domain is not exist.\n-2 42\n"
              "0 0 4000000000\n"
              "verstally: Unable to get status for domain with id=\"1\": no connection given\n"
              "verstally: Unable to update status for domain with id=\"1\": no connection given.\n-1 -1\n");
    EXPECT_EQ(db.query("SELECT id, status FROM domains ORDER BY id"),
              (std::vector<DbRow>{{"1", "4000000000"}, {"2", std::nullopt}, {"3", "7"}, {"4", "0"}, {"5", "0"}}));
}

// A missing domain ends the program, named as the caller gave it.
TEST_F(DomainQueries, MissingDomainIdEndsTheProgram) {
    Outcome r = inside([] { get_dom_id("b\xc3\xbc" "cher-fehlt.test"); });
    EXPECT_TRUE(r.exited && r.status == 1) << r.status;
    EXPECT_EQ(r.out, "verstally: get_dom_id(): domains record not found in DB for 'b\xc3\xbc" "cher-fehlt.test'\n");
    EXPECT_EQ(r.err, r.out);
    r = inside([] { get_dom_id((std::string(64, 'a') + ".test").c_str()); });
    EXPECT_TRUE(r.exited && r.status == 1) << r.status;
    EXPECT_EQ(r.out, "verstally: idn_toascii() failed: Invalid length\n");
}

TEST_F(DomainQueries, NextTableId) {
    db.exec("CREATE TABLE empty_ids (id INT)");
    db.exec("CREATE TABLE text_ids (id VARCHAR(8))");
    db.exec("INSERT INTO text_ids VALUES ('abc')");
    Outcome r = inside([] {
        print({shown(next_table_id("clients")), shown(next_table_id("empty_ids")), shown(next_table_id("domains")),
               shown(next_table_id("text_ids")), shown(next_table_id("clients; drop table misc")),
               shown(next_table_id("mysql.user")), shown(next_table_id("nosuch"))});
    });
    EXPECT_EQ(r.out, "verstally: Unable to define max id: the largest id of text_ids, 'abc', has no successor\n"
                     "verstally: Unable to define max id: 'clients; drop table misc' is not a plain table name\n"
                     "verstally: Unable to define max id: 'mysql.user' is not a plain table name\n"
                     "verstally: Unable to define max id: " + missingTable("nosuch") + "\n103 1 6 0 0 0 0\n");
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
        print({shown(get_ip_address(id)), shown(get_dom_status(id, &status, connection)),
               shown(set_dom_status(id, 5, connection)), shown(get_dom_param(id, name)),
               shown(get_dom_parameter(id, name)), shown(get_dom_service_param(id, name, name)),
               shown(get_dom_limit(id, name)), shown(has_www_prefix(id)), shown(anon_ftp_enabled(id)),
               shown(frontpage_enabled(name, 0)), shown(frontpage_enabled(name, 1)), shown(get_dom_email(id)),
               shown(get_dom_name(name)), shown(next_table_id(name)),
               shown(get_dom_id(name))});  // last: there is no such domain
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
    EXPECT_FALSE(db.statementsMentioning("select * from subdomains \t\t\twhere dom_id='4' and name='www'").empty());
}

// Over the routines of the parameter store and of the domain queries that
// check their text arguments.
TEST_F(DomainQueries, QuotesAndBackslashesInCheckedArgumentsSendNothing) {
    const std::string m = "mk" + db.name();  // in no statement of the set-up
    const auto attempts = [&] {
        const char* id = m.c_str();
        print({shown(put_misc_param((m + "'").c_str(), "v", nullptr)), shown(put_misc_param(id, "x'y", nullptr)),
               shown(put_misc_param(id, "a\\b", nullptr)), shown(put_dom_param("1", id, "\"", nullptr)),
               shown(put_parameter("1", "p\\", id, nullptr)), shown(delete_misc_param((m + "'").c_str(), nullptr)),
               shown(delete_dom_param("1", (m + "\"").c_str(), nullptr)),
               shown(delete_parameter("1", id, "'", nullptr)), shown(get_dom_param(id, (m + "\\").c_str())),
               shown(get_dom_parameter(id, (m + "'").c_str())), shown(get_dom_service_param(id, "web\"", id)),
               shown(get_dom_service_param(id, "web", (m + "\\").c_str())),
               shown(get_dom_limit(id, (m + "'").c_str())), shown(frontpage_enabled((m + "'").c_str(), 1)),
               shown(get_dom_name((m + "\\").c_str())), shown(get_dom_id((m + "'").c_str()))});
    };
    const std::string refused = "-1 -1 -1 -1 -1 -1 -1 -1 <none> <none> <none> <none> <none> 0 <none> <none>\n";
    Outcome r = inside(attempts);
    EXPECT_EQ(r.out, refused);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(db.statementsMentioning(m), std::vector<std::string>{});
    // Refused before any connection: a server that is down says nothing.
    DeadServer dead;
    r = inside(attempts, dead.tcpEnv(db.name()));
    EXPECT_EQ(r.out, refused);
    EXPECT_EQ(r.err, "");
}

TEST_F(DomainQueries, IdsThatAreNoDecimalNumberOfTheColumnAreRefused) {
    // The server would read each of these ids as a number: 1, 0 or the
    // column's largest value.
    const std::string no = std::string(": ") + NOT_A_DOMAIN_ID;
    const struct {
        std::string (*call)(MYSQL*);
        std::string message, result;
    } cases[] = {
        {[](MYSQL*) { return shown(get_ip_address("1' or '1'='1")); }, "Unable to query IP address" + no, "<none>"},
        {[](MYSQL* c) { return shown(get_dom_status("1abc", nullptr, c)); },
         "Unable to get status for domain with id=\"1abc\"" + no, "-1"},
        {[](MYSQL* c) { return shown(set_dom_status(" 1", 9, c)); },
         "Unable to update status for domain with id=\" 1\"" + no + ".", "-1"},
        {[](MYSQL*) { return shown(get_dom_param("+1", "cgi")); }, "Unable to query domain parameter cgi" + no,
         "<none>"},
        {[](MYSQL*) { return shown(get_dom_parameter("1.0", "quota")); },
         "Unable to query domain parameter quota" + no, "<none>"},
        {[](MYSQL*) { return shown(get_dom_service_param("1e0", "mail", "php")); },
         "Unable to query domain parameter php" + no, "<none>"},
        {[](MYSQL*) { return shown(get_dom_limit("4294967296", "max_box")); },
         "Unable to query domain limit max_box" + no, "<none>"},
        {[](MYSQL*) { return shown(has_www_prefix("1 ")); }, "Unable to query www prefix" + no, "-1"},
        {[](MYSQL*) { return shown(anon_ftp_enabled("01x")); }, "Unable to query anon_ftp" + no, "0"},
        {[](MYSQL*) { return shown(get_dom_email("")); }, "Unable to define clients email" + no, "<none>"},
        {[](MYSQL*) { return shown(get_dom_htype("1;")); }, "Unable to query htype from domains" + no, "<none>"},
        {[](MYSQL*) { return shown(put_dom_param("-1", "cgi", "off")); },
         "Unable to put parameter cgi into dom_param" + no, "-1"},
        {[](MYSQL*) { return shown(delete_dom_param("1' or '1'='1", "cgi")); },
         "Unable to delete parameter cgi from dom_param" + no, "-1"},
    };
    DeadServer dead;
    for (const auto& c : cases) {
        const std::string warning = "verstally: " + c.message + "\n";
        Outcome r = inside([&] { std::printf("%s", c.call(connectOrDie()).c_str()); });
        EXPECT_EQ(r.out, warning + c.result);
        EXPECT_EQ(r.err, warning);
        // Refused before any connection: a server that is down says no more.
        r = inside([&] { std::printf("%s", c.call(nullptr).c_str()); }, dead.tcpEnv(db.name()));
        EXPECT_EQ(r.out, warning + c.result);
    }
    EXPECT_EQ(db.query("SELECT dom_id, param, val FROM dom_param WHERE param = 'cgi'"),
              (std::vector<DbRow>{{"1", "cgi", "on"}}));
    EXPECT_EQ(db.scalar("SELECT status FROM domains WHERE id = 1"), "3");
}

TEST_F(DomainQueries, FailuresGiveEachRoutinesText) {
    // The www. records are there, the subdomains are not.
    db.exec("DROP TABLE subdomains");
    Outcome r = inside([] { print({shown(has_www_prefix("1"))}); });
    EXPECT_EQ(r.out, "verstally: Unable to query www subdomain: " + missingTable("subdomains") + "\n-1\n");
    for (const char* table : {"IP_Addresses", "dom_param", "Parameters", "Limits", "dns_recs", "anon_ftp", "hosting",
                              "clients"})
        db.exec(std::string("DROP TABLE ") + table);
    const std::string longName(5000, 'l');
    const std::string notSent = ": the statement would exceed 4095 characters and was not sent";
    const struct {
        std::function<std::string()> call;
        std::string message, result;
    } cases[] = {
        {[] { return shown(get_ip_address("1")); }, "query IP address: " + missingTable("hosting"), "<none>"},
        {[] { return shown(get_dom_param("1", "cgi")); }, "query domain parameter cgi: " + missingTable("dom_param"),
         "<none>"},
        {[] { return shown(get_dom_parameter("1", "quota")); },
         "query domain parameter quota: " + missingTable("Parameters"), "<none>"},
        {[] { return shown(get_dom_service_param("1", "mail", "php")); },
         "query domain parameter php: " + missingTable("Parameters"), "<none>"},
        {[] { return shown(get_dom_limit("1", "max_box")); }, "query domain limit max_box: " + missingTable("Limits"),
         "<none>"},
        {[] { return shown(has_www_prefix("1")); }, "query www prefix: " + missingTable("dns_recs"), "-1"},
        {[] { return shown(anon_ftp_enabled("1")); }, "query anon_ftp: " + missingTable("anon_ftp"), "0"},
        {[] { return shown(frontpage_enabled("example.test", 0)); },
         "query frontpage status: " + missingTable("hosting"), "0"},
        {[] { return shown(get_dom_email("1")); }, "define clients email: " + missingTable("clients"), "<none>"},
        {[&] { return shown(get_dom_limit("1", longName.c_str())); }, "query domain limit " + longName + notSent,
         "<none>"},
        {[] { return shown(get_misc_param(std::string(4100, 'k').c_str(), nullptr)); }, "query val from misc" + notSent,
         "<none>"},
        {[] { return shown(put_misc_param("p", std::string(5000, 'v').c_str(), nullptr)); },
         "put parameter p into misc" + notSent, "-1"},
        // 2100 quotes fit the buffer as they are, not once escaped.
        {[] { return shown(put_parameter(std::string(2100, '\'').c_str(), "q", "v", nullptr)); },
         "put parameter q into Parameters" + notSent, "-1"},
        {[] { return shown(query_single_value("select nosuch from misc where param='a'", nullptr)); },
         "query parameter by query select nosuch from misc where param='a': Unknown column 'nosuch' in 'SELECT'",
         "<none>"},
        {[] { return shown(query_single_value("set @x = 1", nullptr)); },
         "query parameter by query set @x = 1: the statement returned no result set", "<none>"},
        {[] { return shown(get_value_by_key("a", "misc; drop table misc", "param", "val", nullptr)); },
         "query parameter: 'misc; drop table misc' is not a table or column name", "<none>"},
    };
    r = inside([&] {
        for (const auto& c : cases) std::printf("%s\n", c.call().c_str());
    });
    std::string messages, expected;
    for (const auto& c : cases) {
        messages += "verstally: Unable to " + c.message + "\n";
        expected += "verstally: Unable to " + c.message + "\n" + c.result + "\n";
    }
    EXPECT_EQ(r.err, messages);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(db.query("SELECT param FROM misc"), std::vector<DbRow>{{"admin_email"}});

    db.exec("DROP TABLE domains");
    r = inside([] {
        MYSQL* connection = connectOrDie();
        unsigned status = 0;
        print({shown(get_dom_status("1", &status, connection)), shown(set_dom_status("1", 2, connection))});
    });
    const std::string w = "verstally: ";
    EXPECT_EQ(r.out, w + "Unable to get status for domain with id=\"1\": " + missingTable("domains") + "\n" + w +
                         "Unable to update status for domain with id=\"1\": " + missingTable("domains") + ".\n-1 -1\n");
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

TEST_F(DomainQueries, ComponentQuestionsAnswerFromTheStoredVersion) {
    Outcome r = inside([] {
        char buffer[4];
        get_component_version("samba", buffer, sizeof buffer);
        print({shown(is_component_installed("samba")), shown(is_component_installed("bind")),
               shown(is_component_installed("odd")), buffer});
        // The quiet question answers false on every doubt.
        for (const char* name : {"samba", "bind", "odd", "gone", "twice", "nosuch", "x' OR '1'='1"})
            std::printf("%d", component_installed_quiet(name));
    });
    EXPECT_EQ(r.out, "1 0 1 3.0\n1000000");
    EXPECT_EQ(r.err, "");
    r = inside([] { is_component_installed("nosuch"); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "verstally: Package 'nosuch' is not found in Components table\n");
}

// The tables below run over every routine that opens a private connection.
TEST_F(DomainQueries, ServerDownGivesTheReasonThenTheRoutinesText) {
    DeadServer dead;
    const std::string reason =
        "verstally: db_connect: failed to connect to database: Error: Can't connect to server on '127.0.0.1' (";
    const std::string the = "verstally: Unable to connect to the mysql database\n",
                      writer = "verstally: Unable to connect to mysql database\n";
    const struct {
        std::function<std::string()> call;
        std::string warning, result;  // the result is printed on standard output only
        int status = 0;
    } cases[] = {
        {[] { return shown(put_misc_param("p", "v")); }, writer, "-1"},
        {[] { return shown(delete_parameter("1", "p", nullptr)); }, writer, "-1"},
        {[] { return shown(get_misc_param("p")); }, the, "<none>"},
        {[] { return shown(query_single_value("select 1")); }, the, "<none>"},
        {[] { return shown(get_ip_address("1")); },
         "verstally: get_ip_address: Unable to connect to the mysql database\n", "<none>"},
        {[] { return shown(get_dom_param("1", "cgi")); }, writer, "<none>"},
        {[] { return shown(get_dom_limit("1", "max_box")); }, the, "<none>"},
        {[] { return shown(has_www_prefix("1")); }, the, "-1"},
        {[] { return shown(frontpage_enabled("example.test", 1)); }, the, "0"},
        {[] { return shown(get_dom_email("1")); }, the, "<none>"},
        {[] { return shown(next_table_id("clients")); }, the, "0"},
        {[] { return shown(get_dom_id("example.test")); }, the, "<none>"},
        {[] { return shown(component_installed_quiet("samba")); }, "", "0"},
        {[] { return shown(get_dom_name("example.test")); }, the, "", 1},  // fatal
    };
    for (const auto& c : cases) {
        Outcome r = inside([&] { std::printf("%s", c.call().c_str()); }, dead.tcpEnv(db.name()));
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
        const std::string tooLong(5000, 'v');
        // Answers, server errors and statements too long to be sent.
        for (int i = 0; i < 3; ++i)
            print({shown(get_misc_param("x")), shown(query_single_value("select nosuch")),
                   shown(put_misc_param("x", "1")), shown(put_misc_param("x", tooLong.c_str())),
                   shown(get_ip_address("1")), shown(get_dom_limit("1", "max_box")),
                   shown(get_dom_limit("1", tooLong.c_str())), shown(has_www_prefix("1")), shown(has_www_prefix("5")),
                   shown(get_dom_email("2")), shown(get_dom_id("example.test")), shown(get_dom_name("none.test")),
                   shown(next_table_id("nosuch")), shown(component_installed_quiet("samba")),
                   shown(component_installed_quiet("twice")), shown(component_installed_quiet("nosuch"))});
        std::fprintf(stderr, "open=%s\n", otherAdminSessions(connectOrDie()).c_str());
    });
    EXPECT_THAT(r.err, HasSubstr("open=[0]\n"));
}

}  // namespace
