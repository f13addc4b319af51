#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <string>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "env/identity.h"
#include "harness/accounts.h"
#include "harness/sandbox.h"
#include "util/child_process.h"
#include "util/exceptions.h"

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

// Every way to the panel account takes that account's own groups and none
// of root's, as a login would have them: in the process (become_account),
// for a child started as it, and for the dirty flag, whose directory only
// a group of root's may write (the control: with that group kept, the
// account could). A child's account without an entry, or one its caller may
// not become, fails in the caller's process, never in a copy of it.
TEST_F(Identity, EveryWayToTheAccountTakesItsOwnGroupsForRoots) {
    sandbox.writeFile("/etc/group", sandbox.readFile("/etc/group") + "zevextra:x:4800:nobody,zevadm\n");
    sandbox.writeProductConf();
    const std::string tmp = sandbox.productRoot() + "/tmp", flag = tmp + "/components_dirty_flag";
    ASSERT_EQ(chown(tmp.c_str(), 0, 4999) | chmod(tmp.c_str(), 0770), 0);
    const auto asChild = [](uid_t user) {
        return [user] {
            std::string out, err, name = "id";
            try {
                forkExecvGetOutErr(out, err, "/usr/bin/id", {name.data(), nullptr}, user);
                std::printf("%s", out.c_str());
            } catch (const zev::ExSystemErrorBase& e) {
                std::printf("%s\n", e.what());
            }
        };
    };
    const std::string account = "uid 4711/4711 gid 4712/4712 groups 4712 4800\n";
    const std::string refused = "forkExecvPipes: setuid() failed: ", denied = std::strerror(EACCES);
    const struct {
        const char* way;
        bool tool;  // the built tool, which enters the sandbox itself
        uid_t caller;
        std::function<void()> body;
        std::string out;
    } rows[] = {
        {"become_account", false, 0, [] { become_account("zevadm"), std::printf("%s\n", identityText().c_str()); },
         account},
        {"a child as the account", false, 0, asChild(FIXTURE_UID),
         "uid=4711(zevadm) gid=4712(zevadm) groups=4712(zevadm),4800(zevextra)\n"},
        {"a child as an account without an entry", false, 0, asChild(4242), refused + std::strerror(ENOENT) + "\n"},
        {"a child as root, started by the account", false, FIXTURE_UID, asChild(0),
         refused + std::strerror(EPERM) + "\n"},
        {"the dirty flag", true, 0,
         [&] {
             ToolRun run;
             run.args = {"--set-dirty-flag"};
             std::printf("%s", runTool(sandbox, run).err.c_str());
         },
         "verstally: Creating the dirty flag in " + tmp + " failed: " + denied + "\nSystem error 13: " + denied + "\n"},
        {"control: root's group kept", false, FIXTURE_UID,
         [&] { std::printf("%s", open(flag.c_str(), O_CREAT | O_RDONLY | O_CLOEXEC, 0600) >= 0 ? "made" : "refused"); },
         "made"},
    };
    for (const auto& row : rows) {
        Outcome r = captureInChild([&] {
            if (!row.tool) sandbox.enter();
            const gid_t roots[] = {0, 27, 4999};
            if (setgroups(3, roots) != 0 || (row.caller != 0 && (setgid(FIXTURE_GID) != 0 || setuid(row.caller) != 0)))
                _exit(3);
            row.body();
        });
        EXPECT_EQ(r.out, row.out) << row.way;
        EXPECT_EQ(row.tool ? "" : r.err, "") << row.way;
    }
    EXPECT_EQ(unlink(flag.c_str()), 0) << "the control made no flag";
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
