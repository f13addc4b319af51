#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "harness/accounts.h"
#include "harness/sandbox.h"

namespace {

using ::testing::HasSubstr;

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

TEST_F(DirtyFlag, CreatesEmptyFlagOwnedByPanelAccount) {
    const std::pair<mode_t, mode_t> masks[] = {{022, 0600}, {0244, 0400}};
    for (const auto& [mask, expected] : masks) {
        unlink(flag().c_str());
        Outcome r = setFlag([mask = mask] { umask(mask); });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        struct stat st;
        ASSERT_EQ(stat(flag().c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 07777, expected) << std::oct << mask;
        EXPECT_EQ(st.st_uid, FIXTURE_UID);
        EXPECT_EQ(st.st_gid, FIXTURE_GID);
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
    struct stat st;
    ASSERT_EQ(stat(flag().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readWholeFile(flag()), "left");
}

TEST_F(DirtyFlag, MissingTmpDirectoryIsFatal) {
    ASSERT_EQ(rmdir(tmpDir().c_str()), 0);
    Outcome r = setFlag();
    const std::string message = "verstally: Creating the dirty flag in " + sandbox.productRoot() +
                                "/tmp failed: No such file or directory\nSystem error 2: No such file or directory\n";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(r.out, message);
}

TEST_F(DirtyFlag, NeedsNoDatabase) {
    // Every connection setting points at servers that do not exist.
    Outcome r = setFlag([] {}, {{"ZEV_DB_HOST", "127.0.0.1"},
                                {"ZEV_DB_PORT", "1"},
                                {"MYSQL_UNIX_PORT", "/nonexistent/mysql.sock"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(access(flag().c_str(), F_OK), 0);
}

// Root's supplementary groups must not come along: a tmp directory that
// only such a group may write stays closed to the panel account.
TEST_F(DirtyFlag, SupplementaryGroupsOfRootAreDropped) {
    const gid_t rootsGroup = 4999;
    ASSERT_EQ(chown(tmpDir().c_str(), 0, rootsGroup), 0);
    ASSERT_EQ(chmod(tmpDir().c_str(), 0770), 0);
    const std::string path = flag();

    // Control: with the group kept, the account could create the flag.
    Outcome control = captureInChild([&] {
        if (setgroups(1, &rootsGroup) != 0 || setgid(FIXTURE_GID) != 0 || setuid(FIXTURE_UID) != 0) _exit(3);
        int fd = open(path.c_str(), O_CREAT | O_RDONLY, 0600);
        _exit(fd >= 0 ? 0 : 4);
    });
    ASSERT_EQ(control.status, 0);
    ASSERT_EQ(unlink(path.c_str()), 0);

    Outcome r = setFlag([&] {
        if (setgroups(1, &rootsGroup) != 0) _exit(3);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("failed: Permission denied\nSystem error 13"));
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST_F(DirtyFlag, MissingAccountWarnsTwiceAndKeepsIdentity) {
    writeAccountFiles(sandbox, false);
    Outcome r = setFlag();
    const std::string warning = "verstally: Unable to getpwnam for user zevadm\n";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, warning + warning);
    EXPECT_EQ(r.out, r.err);
    struct stat st;
    ASSERT_EQ(stat(flag().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 0u);
}

}  // namespace
