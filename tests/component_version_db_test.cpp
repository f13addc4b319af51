#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/component_version.h"
#include "env/messages.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

// The library's own questions on the Components table, run in-process.
class ComponentVersion : public LibraryWithDatabase {
protected:
    void SetUp() override {
        LibraryWithDatabase::SetUp();
        if (IsSkipped()) return;
        db.exec("ALTER TABLE Components DROP PRIMARY KEY");
        db.exec("INSERT INTO Components VALUES ('samba', '3.0'), ('bind', 'not_installed'), ('odd', 'not_installed+1'),"
                " ('gone', NULL), ('twice', '1'), ('twice', '2')");
    }
};

TEST_F(ComponentVersion, InstalledAnswersFromTheStoredVersion) {
    Outcome r = inside([] {
        std::printf("%d%d%d", is_component_installed("samba"), is_component_installed("bind"),
                    is_component_installed("odd"));
        char buffer[4];
        get_component_version("samba", buffer, sizeof buffer);
        std::printf(" %s", buffer);
    });
    EXPECT_EQ(r.out, "101 3.0");
    Outcome missing = inside([] { is_component_installed("nosuch"); });
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.out, StartsWith("verstally: Package 'nosuch' is not found in Components table\n"));
}

TEST_F(ComponentVersion, QuietAnswerIsFalseOnEveryDoubt) {
    Outcome r = inside([] {
        for (const char* name : {"samba", "bind", "odd", "gone", "twice", "nosuch", "x' OR '1'='1"})
            std::printf("%d", component_installed_quiet(name));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1000000");
    EXPECT_EQ(r.err, "");
    // No connection is left open.
    EXPECT_EQ(otherAdminSessions(db.root().handle()), "0");

    DeadServer dead;
    Outcome down = inside([] { std::printf("%d", component_installed_quiet("samba")); }, dead.tcpEnv(db.name()));
    EXPECT_EQ(down.status, 0);
    // Only the connection routine's own warning, then the answer.
    EXPECT_THAT(down.out, StartsWith("verstally: db_connect: failed to connect to database: Error: "));
    EXPECT_THAT(down.out, EndsWith("\n0"));
}

}  // namespace
