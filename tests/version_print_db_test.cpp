#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness/tool_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class VersionPrint : public ToolWithDatabase {
protected:
    void store(const std::string& name, const std::string& versionSql) {
        db.exec("INSERT INTO Components (name, version) VALUES (" + db.root().quote(name) + ", " + versionSql + ")");
    }
    // A failure ends with its message as the first line on both streams
    // and nothing else on standard output. A finding of the lookup itself
    // comes from no failed system call, so no "System error" line follows.
    void expectFailure(const Outcome& r, const std::string& message, bool finding = true) {
        EXPECT_EQ(r.status, 1);
        if (finding)
            EXPECT_EQ(r.err, line(message));
        else
            EXPECT_THAT(r.err, StartsWith(line(message)));
        EXPECT_EQ(r.out, r.err);
    }
};

TEST_F(VersionPrint, PrintsStoredVersionsAsTheyAre) {
    store("samba", "'3.0.14a-3'");
    store("bind", "'not_installed'");
    store("empty", "''");
    store("my-own-tool", "'1:2.0~rc1-1'");  // not a registered component
    store("o'brien\\x", "'7'");
    const std::pair<const char*, const char*> cases[] = {
        {"samba", "samba:3.0.14a-3\n"},
        {"bind", "bind:not_installed\n"},
        {"empty", "empty:\n"},
        {"my-own-tool", "my-own-tool:1:2.0~rc1-1\n"},
        {"o'brien\\x", "o'brien\\x:7\n"},
    };
    for (const auto& c : cases) {
        Outcome r = run({c.first});
        EXPECT_EQ(r.status, 0) << c.first << r.err;
        EXPECT_EQ(r.out, c.second);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(VersionPrint, MissingRowsAndHostileNamesAreNotFound) {
    store("samba", "'3.0'");
    const std::vector<std::string> names = {"zev", "Samba ", "x' OR '1'='1", "samba'", "\\", std::string(6000, 'n')};
    for (const std::string& name : names) {
        Outcome r = run({name});
        expectFailure(r, "Package '" + name + "' is not found in Components table");
    }
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM Components"), "1");
}

TEST_F(VersionPrint, DuplicateRowsAndNullVersion) {
    db.exec("ALTER TABLE Components DROP PRIMARY KEY");
    store("samba", "'1'");
    store("samba", "'2'");
    store("bind", "NULL");
    expectFailure(run({"samba"}), "Duplicate record in Components table for package samba");
    expectFailure(run({"bind"}), "NULL version for package 'bind' in database");
}

TEST_F(VersionPrint, LongStoredVersionIsCutNotOverrun) {
    db.exec("ALTER TABLE Components MODIFY version TEXT");
    store("big", "REPEAT('v', 5000)");
    Outcome r = run({"big"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "big:" + std::string(4095, 'v') + "\n");
}

TEST_F(VersionPrint, DatabaseDownEndsBeforeAnyLookup) {
    DeadServer dead;
    Outcome r = run({"samba"}, dead.tcpEnv(db.name()));
    EXPECT_EQ(r.status, 1);
    // The connection routine's warning, then the mode's own message.
    EXPECT_THAT(r.err, StartsWith("verstally: db_connect: failed to connect to database: Error: "));
    EXPECT_THAT(r.err, HasSubstr("\nverstally: Unable to connect to the mysql database\n"));
    EXPECT_EQ(r.out, r.err);
}

TEST_F(VersionPrint, NearMissOptionsAreLookedUp) {
    // Anything but the three exact options is a component name.
    store("-H", "'odd'");
    EXPECT_EQ(run({"-H"}).out, "-H:odd\n");
    for (const char* name : {"-help", "--help=1", "", "-hx", "--set-dirty-flag2"})
        expectFailure(run({name}), "Package '" + std::string(name) + "' is not found in Components table");
}

}  // namespace
