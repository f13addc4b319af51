#include <cstdio>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

#include "env/identity.h"
#include "harness/accounts.h"
#include "harness/sandbox.h"

namespace {

class Identity : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_ROOT();
        writeAccountFiles(sandbox);
    }
    Sandbox sandbox;
};

std::string identityText() {
    char text[128];
    std::snprintf(text, sizeof text, "uid %d/%d gid %d/%d groups", static_cast<int>(getuid()),
                  static_cast<int>(geteuid()), static_cast<int>(getgid()), static_cast<int>(getegid()));
    gid_t groups[16];
    const int count = getgroups(16, groups);
    std::string listed = text;
    for (int i = 0; i < count; ++i) listed += " " + std::to_string(groups[i]);
    return listed;
}

// Removes one capability from the effective and permitted sets: root then
// may no longer use it.
void dropCapability(int capability) {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) _exit(5);
    data[capability / 32].effective &= ~(1u << (capability % 32));
    data[capability / 32].permitted &= ~(1u << (capability % 32));
    if (syscall(SYS_capset, &header, data) != 0) _exit(6);
}

// Root's groups go, the account's own come: as a login would have them.
TEST_F(Identity, BecomingTheAccountTakesItsOwnGroupsForRoots) {
    sandbox.writeFile("/etc/group", sandbox.readFile("/etc/group") + "zevextra:x:4800:nobody,zevadm\n");
    Outcome r = runInSandbox(sandbox, [] {
        const gid_t groups[] = {0, 27, 4999};
        if (setgroups(3, groups) != 0) _exit(3);
        become_account("zevadm");
        std::printf("%s\n", identityText().c_str());
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "uid 4711/4711 gid 4712/4712 groups 4712 4800\n");
}

TEST_F(Identity, RefusedChangeAsRootIsFatal) {
    const std::pair<int, std::string> cases[] = {
        {CAP_SETGID,
         "Unable to set the supplementary groups of user zevadm\n"
         "System error 1: Operation not permitted\n"},
        {CAP_SETUID, "Unable to change the user to 4711 for user zevadm\nSystem error 1: Operation not permitted\n"},
    };
    for (const auto& [capability, message] : cases) {
        Outcome r = runInSandbox(sandbox, [capability = capability] {
            dropCapability(capability);
            become_account("zevadm");
            std::printf("went on as %s\n", identityText().c_str());
        });
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, message);
    }
}

// (Without the account it stays too: DirtyFlag shows that, warnings and all.)
TEST_F(Identity, WithoutRootIdentityStays) {
    Outcome unprivileged = runInSandbox(sandbox, [] {
        const gid_t nogroup = 65534;
        if (setgroups(1, &nogroup) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        become_account("zevadm");
        std::printf("%s\n", identityText().c_str());
    });
    EXPECT_EQ(unprivileged.status, 0);
    EXPECT_EQ(unprivileged.out, "uid 65534/65534 gid 65534/65534 groups 65534\n");
}

}  // namespace
