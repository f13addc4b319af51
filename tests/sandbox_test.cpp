#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <set>
#include <sys/mount.h>
#include <unistd.h>

#include "harness/accounts.h"
#include "harness/sandbox.h"

namespace {

namespace fs = std::filesystem;

// What a process inside sees of the account, HOME and the files that
// could steer the tool or the MariaDB clients.
void printWhatIsSeen() {
    const passwd* account = getpwnam("zevadm");
    std::printf("zevadm %d, HOME %s\n", account ? static_cast<int>(account->pw_uid) : -1,
                std::getenv("HOME") ? "set" : "unset");
    for (const char* path : {"/etc/zev", "/etc/mysql", "/etc/my.cnf", "/etc/shadow", "/etc/nsswitch.conf"}) {
        std::string seen = "absent";
        std::error_code error;
        if (fs::is_directory(path, error)) {
            std::set<std::string> names;
            for (const auto& entry : fs::directory_iterator(path)) names.insert(entry.path().filename());
            seen.clear();
            for (const std::string& name : names) seen += name + " ";
        } else if (fs::exists(path, error)) {
            seen = readWholeFile(path);
            seen = seen.substr(0, seen.find('\n'));
        }
        std::printf("%s: %s\n", path, seen.c_str());
    }
}

// Whatever the machine holds, a sandbox shows nothing of it that steers the
// code under test. The machine is a configured panel server, seen through
// a sandbox of its own and as a plain chroot (where "/" is no mount point).
TEST(Sandbox, ShowsItsOwnFilesWhateverTheMachineHolds) {
    SKIP_UNLESS_ROOT();
    Sandbox machine, own;
    machine.writeFile("/etc/zev/zev.conf", "PRODUCT_ROOT_D\t/opt/zev\n");
    machine.writeFile("/etc/my.cnf", "[client]\nssl\n");
    machine.writeFile("/etc/mysql/conf.d/verstally.cnf", "[verstally]\nssl-ca = /etc/mysql/panel-ca.pem\n");
    machine.writeFile("/etc/passwd", "root:x:0:0::/root:/bin/sh\nzevadm:x:997:997::/:/bin/false\n");
    machine.writeFile("/etc/shadow", "zevadm:!:19000::::::\n");
    machine.writeFile("/etc/nsswitch.conf", "passwd: files winbind\n");
    writeAccountFiles(own);
    own.writeFile("/etc/mysql/my.cnf", "[client]\n");
    const std::function<void()> machines[] = {
        [&] { machine.enter(); },
        [&] {
            enterPrivateMountNamespace();
            const std::string tmp = machine.root() + "/var/tmp";
            fs::create_directories(tmp);
            if (mount("/var/tmp", tmp.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                chroot(machine.root().c_str()) != 0 || chdir("/") != 0)
                childFailed("plain chroot");
        },
    };
    for (const auto& enterMachine : machines) {
        const Outcome r = captureInChild([&] {
            enterMachine();
            setenv("HOME", "/root", 1);
            const Outcome inside = runInSandbox(own, printWhatIsSeen);
            std::printf("%s%s", inside.out.c_str(), inside.err.c_str());
        });
        EXPECT_EQ(r.out, "zevadm 4711, HOME unset\n/etc/zev: \n/etc/mysql: my.cnf \n/etc/my.cnf: absent\n"
                         "/etc/shadow: absent\n/etc/nsswitch.conf: passwd: files\n") << r.err;
    }
}

}  // namespace
