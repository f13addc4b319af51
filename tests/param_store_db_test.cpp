// The parameter store against the private server: readers, writers, the
// shared result buffer, refused and escaped arguments, failures.
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"
#include "harness/tool_fixture.h"

namespace {

std::string shown(const char* value) { return value != nullptr ? "[" + std::string(value) + "]" : "<none>"; }

class ParamStore : public LibraryWithDatabase {
protected:
    std::string count(const std::string& table) { return db.scalar("SELECT count(*) FROM " + table).value_or("?"); }

    DeadServer dead;
    // Names no statement of the set-up contains.
    const std::string marker = "mk" + db.name();
};

TEST_F(ParamStore, ReadersFindValuesEmptyRowsAndLiteralKeys) {
    db.exec("INSERT INTO misc VALUES ('cf_instance_type', 'j2ee'), ('nullval', NULL), ('a''b', 'quoted'), "
            "('a', 'plain'), ('b\\\\', 'backslash')");
    db.exec("INSERT INTO domains (id, name, htype) VALUES (5, 'example.test', 'vrt_hst')");
    Outcome r = inside([] {
        for (const char* param : {"cf_instance_type", "missing", "nullval", "a'b", "x' or '1'='1", "b\\", "a\\"})
            std::printf("%s=%s\n", param, shown(get_misc_param(param, nullptr)).c_str());
        std::printf("htype=%s\n", shown(get_dom_htype("5", nullptr)).c_str());
        std::printf("name=%s\n", shown(get_value_by_key("5", "domains", "id", "name", nullptr)).c_str());
    });
    EXPECT_EQ(r.out,
              "cf_instance_type=[j2ee]\nmissing=[]\nnullval=[]\na'b=[quoted]\nx' or '1'='1=[]\nb\\=[backslash]\n"
              "a\\=[]\nhtype=[vrt_hst]\nname=[example.test]\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(ParamStore, ReadersShareOneBufferAndLeaveTheConnectionOpen) {
    db.exec("INSERT INTO misc VALUES ('first', 'one'), ('second', 'two')");
    Outcome r = inside([] {
        char message[DB_MESSAGE_BUFFER_SIZE];
        MYSQL* connection = db_connect(message, sizeof message);
        const char* first = get_misc_param("first", connection);
        const std::string copy = first != nullptr ? first : "<none>";
        const char* second = get_misc_param("second", connection);
        std::printf("%s %d %s %d\n", copy.c_str(), first == second, first != nullptr ? first : "<none>",
                    mysql_ping(connection));
    });
    EXPECT_EQ(r.out, "one 1 two 0\n");
}

TEST_F(ParamStore, ReaderFailuresAreReportedWithTheStatement) {
    db.exec("INSERT INTO misc VALUES ('a', 'plain')");
    Outcome r = inside([] {
        std::printf("%s\n", shown(query_single_value("select nosuch from misc where param='a'", nullptr)).c_str());
        std::printf("%s\n", shown(query_single_value("set @x = 1", nullptr)).c_str());
        std::printf("%s\n", shown(get_value_by_key("a", "misc; drop table misc", "param", "val", nullptr)).c_str());
    });
    const std::string messages =
        "verstally: Unable to query parameter by query select nosuch from misc where param='a': Unknown column "
        "'nosuch' in 'SELECT'\n"
        "verstally: Unable to query parameter by query set @x = 1: the statement returned no result set\n"
        "verstally: Unable to query parameter: 'misc; drop table misc' is not a table or column name\n";
    EXPECT_EQ(r.err, messages);
    EXPECT_EQ(r.out,
              "verstally: Unable to query parameter by query select nosuch from misc where param='a': Unknown column "
              "'nosuch' in 'SELECT'\n<none>\n"
              "verstally: Unable to query parameter by query set @x = 1: the statement returned no result set\n<none>\n"
              "verstally: Unable to query parameter: 'misc; drop table misc' is not a table or column name\n<none>\n");
    EXPECT_EQ(count("misc"), "1");
}

TEST_F(ParamStore, LongValuesAreCutLongStatementsNever) {
    db.exec("INSERT INTO misc VALUES ('long', REPEAT('v', 5000))");
    Outcome r = inside([] {
        std::printf("%zu\n", std::strlen(get_misc_param("long", nullptr)));
        // A caller's statement is sent whole, however long.
        const std::string select = "select '" + std::string(5000, 'w') + "'";
        const char* value = query_single_value(select.c_str(), nullptr);
        std::printf("%zu %c\n", value != nullptr ? std::strlen(value) : 0, value != nullptr ? value[0] : '-');
        std::printf("%s\n", shown(get_misc_param(std::string(4100, 'k').c_str(), nullptr)).c_str());
    });
    EXPECT_EQ(r.out,
              "4095\n4095 w\nverstally: Unable to query val from misc: the statement would exceed 4095 characters "
              "and was not sent\n<none>\n");
}

TEST_F(ParamStore, WritersStoreReplaceAndDelete) {
    Outcome r = inside([] {
        std::printf("%d", put_misc_param("p1", "v1", nullptr));
        std::printf(" %d", put_misc_param("p1", "v2", nullptr));
        std::printf(" %d", put_misc_param("p2", nullptr, nullptr));
        std::printf(" %d", put_misc_param("p3", "gone", nullptr));
        std::printf(" %d", put_dom_param("3", "dp", "dv", nullptr));
        std::printf(" %d", put_dom_param("4", "dp", "kept", nullptr));
        std::printf(" %d", put_parameter("4", "pp", "pv", nullptr));
        std::printf(" %d", put_parameter("4", "pq", "kept", nullptr));
        std::printf(" %d", delete_misc_param("p3", nullptr));
        std::printf(" %d", delete_dom_param("3", "dp", nullptr));
        std::printf(" %d", delete_parameter("4", "pq", "other", nullptr));
        std::printf(" %d", delete_parameter("4", "pp", nullptr, nullptr));
    });
    EXPECT_EQ(r.out, "0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(db.query("SELECT param, val FROM misc ORDER BY param"),
              (std::vector<DbRow>{{"p1", "v2"}, {"p2", std::nullopt}}));
    EXPECT_EQ(db.query("SELECT dom_id, param, val FROM dom_param"), (std::vector<DbRow>{{"4", "dp", "kept"}}));
    EXPECT_EQ(db.query("SELECT id, parameter, value FROM Parameters"), (std::vector<DbRow>{{"4", "pq", "kept"}}));
}

TEST_F(ParamStore, WritersRefuseQuotesAndBackslashesWithoutSending) {
    const std::string m = marker;
    auto attempts = [&] {
        std::printf("%d", put_misc_param((m + "'").c_str(), "v", nullptr));
        std::printf(" %d", put_misc_param(m.c_str(), "x'y", nullptr));
        std::printf(" %d", put_misc_param(m.c_str(), "a\\b", nullptr));
        std::printf(" %d", put_dom_param("1", m.c_str(), "\"", nullptr));
        std::printf(" %d", put_parameter("1", "p\\", m.c_str(), nullptr));
        std::printf(" %d", delete_misc_param((m + "'").c_str(), nullptr));
        std::printf(" %d", delete_dom_param("1", (m + "\"").c_str(), nullptr));
        std::printf(" %d", delete_parameter("1", m.c_str(), "'", nullptr));
    };
    Outcome r = inside(attempts);
    EXPECT_EQ(r.out, "-1 -1 -1 -1 -1 -1 -1 -1");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(db.statementsMentioning(marker), std::vector<std::string>{});
    EXPECT_EQ(count("misc") + count("dom_param") + count("Parameters"), "000");
    // Refused before any connection: a server that is down says nothing.
    r = inside(attempts, dead.tcpEnv());
    EXPECT_EQ(r.out, "-1 -1 -1 -1 -1 -1 -1 -1");
    EXPECT_EQ(r.err, "");
}

TEST_F(ParamStore, SetIdsAreEscaped) {
    db.exec("INSERT INTO Parameters VALUES (1, 'p', 'one'), (2, 'p', 'two')");
    const std::string param = marker;
    Outcome r = inside([&] {
        std::printf("%d\n", put_parameter("7' or 'x", param.c_str(), "v", nullptr));
        std::printf("%d\n", delete_parameter("0' or '1'='1", "p", nullptr, nullptr));
    });
    // The server sees one text that is no number: the quote did not end it.
    EXPECT_EQ(r.out, "verstally: Unable to put parameter " + param +
                         " into Parameters: Data truncated for column 'id' at row 1\n-1\n0\n");
    EXPECT_EQ(db.statementsMentioning(param),
              std::vector<std::string>{"replace into Parameters (id, parameter, value) values('7\\' or \\'x', '" +
                                       param + "', 'v')"});
    EXPECT_EQ(db.query("SELECT id FROM Parameters ORDER BY id"), (std::vector<DbRow>{{"1"}, {"2"}}));
    EXPECT_EQ(db.statementsMentioning("0\\' or \\'1\\'=\\'1").size(), 1u);
}

TEST_F(ParamStore, WriterTooLongIsRefusedWithAMessage) {
    Outcome r = inside([] {
        std::printf("%d\n", put_misc_param("p", std::string(5000, 'v').c_str(), nullptr));
        // 2100 quotes fit the buffer as they are, not once escaped.
        std::printf("%d\n", put_parameter(std::string(2100, '\'').c_str(), "q", "v", nullptr));
    });
    EXPECT_EQ(r.out,
              "verstally: Unable to put parameter p into misc: the statement would exceed 4095 characters and was not "
              "sent\n-1\n"
              "verstally: Unable to put parameter q into Parameters: the statement would exceed 4095 characters and "
              "was not sent\n-1\n");
    EXPECT_EQ(count("misc") + count("Parameters"), "00");
}

}  // namespace
