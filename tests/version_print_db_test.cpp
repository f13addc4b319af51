// The version print, end to end: stored versions as they are, and the
// findings of the lookup, which end the run with their message alone (no
// failed system call, so no "System error" line). A server that is down
// is DbConnect.PortThatIsNoNumberIsTheLibraryDefault's.
#include <gtest/gtest.h>

#include "harness/tool_fixture.h"

namespace {

using VersionPrint = ToolWithDatabase;

TEST_F(VersionPrint, PrintsTheStoredVersionOrEndsWithTheFinding) {
    db.exec("ALTER TABLE Components DROP PRIMARY KEY");
    db.exec("INSERT INTO Components (name, version) VALUES ('samba', '3.0.14a-3'), ('bind', 'not_installed'), "
            "('empty', ''), ('my-own-tool', '1:2.0~rc1-1'), ('o''brien\\\\x', '7'), ('-H', 'odd'), "
            "('big', REPEAT('v', 5000)), ('twice', '1'), ('twice', '2'), ('null', NULL)");
    const std::pair<std::string, std::string> printed[] = {
        {"samba", "3.0.14a-3"}, {"bind", "not_installed"}, {"empty", ""},
        {"my-own-tool", "1:2.0~rc1-1"},  // not a registered component
        {"o'brien\\x", "7"},
        {"-H", "odd"},  // anything but the three exact options is a name
        {"big", std::string(4095, 'v')},  // cut, not overrun
    };
    for (const auto& c : printed) {
        Outcome r = run({c.first});
        EXPECT_EQ(r.status, 0) << c.first << r.err;
        EXPECT_EQ(r.out, c.first + ":" + c.second + "\n");
        EXPECT_EQ(r.err, "");
    }
    std::vector<std::pair<std::string, std::string>> findings = {
        {"twice", "Duplicate record in Components table for package twice"},
        {"null", "NULL version for package 'null' in database"},
    };
    for (const std::string& name : std::vector<std::string>{"zev", "Samba ", "x' OR '1'='1", "samba'", "\\",
                                                            std::string(6000, 'n'), "-help", "--help=1", "", "-hx",
                                                            "--set-dirty-flag2"})
        findings.emplace_back(name, "Package '" + name + "' is not found in Components table");
    for (const auto& c : findings) {
        Outcome r = run({c.first});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, line(c.second));
        EXPECT_EQ(r.out, r.err);
    }
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM Components"), "10");
}

}  // namespace
