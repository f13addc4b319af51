#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "harness/accounts.h"
#include "harness/sandbox.h"

namespace {

// A sandbox with the panel account, the product root's tmp directory
// belonging to it, and no database anywhere in sight.
class DirtyFlag : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_ROOT();
        sandbox.writeProductConf();
        writeAccountFiles(sandbox);
        ASSERT_EQ(chown(tmpDir().c_str(), FIXTURE_UID, FIXTURE_GID), 0);
    }
    std::string tmpDir() const { return sandbox.productRoot() + "/tmp"; }
    std::string flag() const { return tmpDir() + "/components_dirty_flag"; }
    // "file <mode in octal> <uid>:<gid> size <n>" of the flag, or "none".
    std::string flagState() const {
        struct stat st;
        if (stat(flag().c_str(), &st) != 0) return "none";
        char text[96];
        std::snprintf(text, sizeof text, "%s %o %u:%u size %lld", S_ISREG(st.st_mode) ? "file" : "other",
                      st.st_mode & 07777, st.st_uid, st.st_gid, static_cast<long long>(st.st_size));
        return text;
    }
    // The message of a flag that cannot be created for the reason `error`.
    std::string failure(int error) const {
        const std::string reason = std::strerror(error);
        return "verstally: Creating the dirty flag in " + tmpDir() + " failed: " + reason + "\nSystem error " +
               std::to_string(error) + ": " + reason + "\n";
    }

    // Runs `verstally --set-dirty-flag` from a child that first applies
    // `prepare` (umask, groups) to the identity the tool inherits.
    Outcome setFlag(const std::function<void()>& prepare = [] {}, std::map<std::string, std::string> env = {}) {
        return captureInChild([&] {
            prepare();
            ToolRun run;
            run.args = {"--set-dirty-flag"};
            run.env = env;
            Outcome inner = runTool(sandbox, run);
            std::fputs(inner.out.c_str(), stdout);
            std::fputs(inner.err.c_str(), stderr);
            std::fflush(nullptr);
            _exit(inner.exited ? inner.status : 128 + inner.status);
        });
    }

    Sandbox sandbox;
};

// Every connection setting points at servers that do not exist: the mode
// needs no database.
TEST_F(DirtyFlag, CreatesEmptyFlagOwnedByPanelAccount) {
    const std::pair<mode_t, int> masks[] = {{022, 600}, {0244, 400}};
    for (const auto& [mask, expected] : masks) {
        unlink(flag().c_str());
        Outcome r = setFlag([mask = mask] { umask(mask); }, {{"ZEV_DB_HOST", "127.0.0.1"},
                                                             {"ZEV_DB_PORT", "1"},
                                                             {"MYSQL_UNIX_PORT", "/nonexistent/mysql.sock"}});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(flagState(), "file " + std::to_string(expected) + " 4711:4712 size 0") << mask;
    }
}

TEST_F(DirtyFlag, SecondRunLeavesFlagAsItIs) {
    ASSERT_EQ(setFlag().status, 0);
    // Content and mode an earlier holder may have left: neither may change.
    sandbox.writeFile(flag(), "left", 0640);
    ASSERT_EQ(chown(flag().c_str(), FIXTURE_UID, FIXTURE_GID), 0);
    Outcome r = setFlag();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(flagState(), "file 640 4711:4712 size 4");
    EXPECT_EQ(readWholeFile(flag()), "left");
}

TEST_F(DirtyFlag, MissingTmpDirectoryIsFatal) {
    ASSERT_EQ(rmdir(tmpDir().c_str()), 0);
    Outcome r = setFlag();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, failure(ENOENT));
    EXPECT_EQ(r.out, r.err);
}

TEST_F(DirtyFlag, MissingAccountWarnsTwiceAndKeepsIdentity) {
    writeAccountFiles(sandbox, false);
    Outcome r = setFlag();
    const std::string warning = "verstally: Unable to getpwnam for user zevadm\n";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, warning + warning);
    EXPECT_EQ(r.out, r.err);
    EXPECT_EQ(flagState(), "file 600 0:0 size 0");
}

}  // namespace
