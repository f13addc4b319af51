#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include "env/user_lookup.h"
#include "harness/accounts.h"
#include "harness/sandbox.h"

namespace {

// Sandbox whose user database holds the panel account, whose primary group
// is named zevgrp here, and a group that carries the account's name but not
// its primary gid.
class UserLookup : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_ROOT();
        writeAccountFiles(sandbox);
        sandbox.writeFile("/etc/group", std::string(SANDBOX_GROUP) + "zevgrp:x:4712:\nzevadm:x:4999:\n");
    }
    Sandbox sandbox;
};

TEST_F(UserLookup, IdsAndNamesComeFromTheEntries) {
    Outcome r = runInSandbox(sandbox, [] {
        std::printf("uid %d\n", get_user_id("zevadm", 0));
        // The primary gid of the passwd entry, not the group named zevadm.
        std::printf("gid %d %d\n", get_user_id("zevadm", 1), get_user_id("zevadm", 7));
        int uid = -1, gid = -1;
        const char* home = "unset";
        int result = get_user_ids("zevadm", &uid, &gid, &home);
        std::printf("ids %d %d %d %s\n", result, uid, gid, home);
        std::printf("group %d %d\n", get_group_id("zevgrp"), get_group_id("zevadm"));
        std::printf("names %s %s\n", user_name_of(4711), group_name_of(4712));
        // Ids without an entry read as numbers (the answers may share a buffer).
        std::printf("%s ", user_name_of(4242));
        std::printf("%s ", group_name_of(4242));
        std::printf("%s\n", user_name_of(4294967294u));
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "uid 4711\ngid 4712 4712\nids 0 4711 4712 /home/zevadm\ngroup 4712 4999\nnames zevadm zevgrp\n"
                     "4242 4242 4294967294\n");
}

TEST_F(UserLookup, UnknownOrNullNamesWarnAndYieldZero) {
    for (const char* name : {"nobody_here", static_cast<const char*>(nullptr)}) {
        Outcome r = runInSandbox(sandbox, [&] {
            // A stale error from before the lookup must not be reported.
            errno = EBADF;
            std::printf("id %d\n", get_user_id(name, 1));
            int uid = 77, gid = 78;
            const char* home = "untouched";
            int result = get_user_ids(name, &uid, &gid, &home);
            std::printf("ids %d %d %d %s\n", result, uid, gid, home);
            std::printf("gid %d\n", get_group_id(name));
        });
        const std::string shown = name != nullptr ? name : "(null)";
        const std::string user = "Unable to getpwnam for user " + shown + "\n";
        // The group lookup fails without an error of its own: the text for 0.
        const std::string group = "Unable to getgrnam for group " + shown + ": " + std::strerror(0) + "\n";
        EXPECT_TRUE(r.exited && r.status == 0) << shown << ": " << r.status;
        EXPECT_EQ(r.err, user + user + group) << shown;
        EXPECT_EQ(r.out, user + "id 0\n" + user + "ids -1 77 78 untouched\n" + group + "gid 0\n") << shown;
    }
}

}  // namespace
