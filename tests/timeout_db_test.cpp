#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace {

// The time-out striking while a statement waits for a table lock that
// another session holds.
struct BlockedCase {
    const char* what;
    std::vector<std::string> args;  // the mode
    const char* blocked;            // start of the statement that waits
    const char* locks;              // what the other session locks
    const char* counterBefore;      // verstally_fails before (null: absent)
    const char* counterAfter;       // and after (null: absent)
    const char* countBlocked;       // start of the count's statement when it waits too (null: it does not)
};

class TimeOutInTheDatabase : public ToolWithDatabase {
protected:
    std::string waiting(const char* statementStart) {
        return db.scalar("SELECT COUNT(*) FROM information_schema.processlist WHERE info LIKE " +
                         db.root().quote(std::string(statementStart) + "%") + " AND db = " + db.root().quote(db.name()))
            .value_or("?");
    }
    /// Whether a statement starting with `statementStart` came to wait
    /// within 30 s.
    bool cameToWait(const char* statementStart) {
        for (int i = 0; i < 600; ++i) {
            if (waiting(statementStart) == "1") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(TimeOutInTheDatabase, CountsCancelsAndLeavesTheTableAsItWas) {
    const BlockedCase cases[] = {
        {"update run in its REPLACE", {}, "REPLACE Components", "Components WRITE", nullptr, "1", nullptr},
        {"version print in its lookup", {"samba"}, "SELECT version FROM Components", "Components WRITE", "3", "4",
         nullptr},
        // The count itself cannot get through: the timer's second strike,
        // once the grace is over, ends the run.
        {"version print, misc locked too", {"samba"}, "SELECT version FROM Components", "Components WRITE, misc WRITE",
         "3", "3", "select val from misc where param='verstally_fails'"},
        // The probe's read that the time-out cancels says nothing of it.
        {"update run in the ColdFusion probe's read", {}, "select val from misc where param='cf_instance_type'",
         "misc WRITE", "3", "3", "select val from misc where param='verstally_fails'"},
    };
    FakeDpkgQuery dpkg(sandbox, installedRecord("samba", "9.9-new"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        db.exec("DELETE FROM misc");
        db.exec("DELETE FROM Components");
        db.exec("INSERT INTO Components VALUES ('samba', '3.0-old'), ('bind', 'not_installed')");
        if (c.counterBefore != nullptr)
            db.exec(std::string("INSERT INTO misc VALUES ('verstally_fails', '") + c.counterBefore + "')");
        const auto oldRows = componentRows(db);

        RootConnection locker(db.name());
        locker.exec(std::string("LOCK TABLES ") + c.locks);
        const std::string out = sandbox.root() + "/t.out", err = sandbox.root() + "/t.err";
        const int tool = startTool(sandbox, toolRun(c.args), out, err);
        const bool blocked = cameToWait(c.blocked);
        if (!blocked || !strikeRunTimer(tool)) kill(tool, SIGKILL);
        const bool countBlocked = blocked && c.countBlocked != nullptr && cameToWait(c.countBlocked);
        if (countBlocked) strikeRunTimer(tool);
        Outcome r = collectChild(tool, out, err);
        ASSERT_TRUE(blocked) << "the run never reached its statement: " << r.err;
        EXPECT_TRUE(countBlocked || c.countBlocked == nullptr) << "the count never came to wait";

        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "verstally: Verstally timeout\n");  // no "System error" line either
        EXPECT_EQ(r.out, r.err);
        // The statement the run gave up on does not wait on in the server
        // to land once the lock goes.
        EXPECT_EQ(waiting(c.blocked), "0");
        locker.exec("UNLOCK TABLES");
        EXPECT_EQ(componentRows(db), oldRows);
        EXPECT_EQ(db.scalar("SELECT val FROM misc WHERE param = 'verstally_fails'"),
                  c.counterAfter ? std::optional<std::string>(c.counterAfter) : std::nullopt);
    }
}

}  // namespace
