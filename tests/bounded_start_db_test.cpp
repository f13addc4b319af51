// Everything the tool reads or opens before its time-out is armed, made
// hostile: each run must end by itself, promptly, with its usual outcome.
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "env/constants.h"
#include "harness/accounts.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace fs = std::filesystem;

namespace {

/// What a case's run must end with: its status and its whole standard
/// output; a failure writes the same to standard error.
struct Expect {
    int status;
    std::string out;
};

class BoundedStart;
struct StartCase {
    const char* name;
    std::function<Expect(BoundedStart&, ToolRun&)> prepare;
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

/// A sandbox with the configuration, the password file, a database holding
/// the row "samba" = "3.0" and a dpkg-query that knows no package.
class BoundedStart : public ToolWithDatabase, public ::testing::WithParamInterface<StartCase> {
public:
    using ToolWithDatabase::db;
    using ToolWithDatabase::sandbox;

    void SetUp() override {
        ToolWithDatabase::SetUp();
        if (!IsSkipped()) db.exec("INSERT INTO Components (name, version) VALUES ('samba', '3.0')");
    }

    /// Runs the tool and kills it when it still runs after `boundSeconds`
    /// (`exited` is false then); `seconds` is how long it ran.
    Outcome runBounded(const ToolRun& run, int boundSeconds, double& seconds) {
        const std::string out = sandbox.root() + "/run.out", err = sandbox.root() + "/run.err";
        const auto start = std::chrono::steady_clock::now();
        const int pid = startTool(sandbox, run, out, err);
        for (int waited = 0; waited < boundSeconds * 20 && !hasEnded(pid); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        kill(pid, SIGKILL);  // nothing when it has ended: it is not reaped yet
        return collectChild(pid, out, err);
    }

    /// A FIFO at `path` (a path inside the sandbox or below its directory).
    void fifoAt(const std::string& path) const {
        const std::string outside = sandbox.layerPath(path);
        fs::create_directories(fs::path(outside).parent_path());
        unlink(outside.c_str());
        ASSERT_EQ(mkfifo(outside.c_str(), 0600), 0) << outside;
    }

    std::string semFile() const { return sandbox.productRoot() + "/var/utilities.sem"; }
    std::string flagFile() const { return sandbox.productRoot() + "/tmp/components_dirty_flag"; }
    /// Where the planted links point: no run may create it.
    std::string planted() const { return sandbox.root() + "/planted"; }

    FakeDpkgQuery dpkg{sandbox, ""};
    DeadServer dead;
};

Expect lookUpSambaOverTcp(BoundedStart& t, ToolRun& run) {
    run.args = {"samba"};
    run.env = t.db.tcpEnv();
    return {0, "samba:3.0\n"};
}

Expect dirtyFlagAsRoot(BoundedStart& t, ToolRun& run, int error) {
    writeAccountFiles(t.sandbox, false);
    run.args = {"--set-dirty-flag"};
    const std::string noAccount = "verstally: Unable to getpwnam for user zevadm\n", reason = std::strerror(error);
    return {1, noAccount + noAccount + "verstally: Creating the dirty flag in " + t.sandbox.productRoot() +
                   "/tmp failed: " + reason + "\nSystem error " + std::to_string(error) + ": " + reason + "\n"};
}

// A server that takes the connection and then stalls: the run ends after
// the real connection bound (the library's tests show each kind of stall
// with a short one), through the usual messages. First in the file, so
// that a first ctest run starts it first.
TEST_F(BoundedStart, StalledServerIsGivenUpAfterTheConnectionBound) {
    StalledListener listener(partialGreeting());
    ToolRun run = toolRun({});
    run.env = listener.tcpEnv();
    double seconds = 0;
    const Outcome r = runBounded(run, static_cast<int>(CONNECT_BOUND_SECONDS) + 20, seconds);
    ASSERT_TRUE(r.exited) << "still running after the bound, or killed by signal " << r.status;
    EXPECT_GE(seconds, CONNECT_BOUND_SECONDS - 0.5);
    EXPECT_EQ(r.status, 1);
    // The bound's own reason, never a leftover "try again" of a read.
    EXPECT_EQ(r.out, "verstally: db_connect: failed to connect to database: Error: Lost connection to server at "
                     "'handshake: reading initial communication packet', system error: 110\nverstally: Unable to "
                     "connect to the mysql database\nSystem error 110: " + std::string(std::strerror(ETIMEDOUT)) +
                         "\n");
    EXPECT_EQ(r.err, r.out);
}

const StartCase kCases[] = {
    {"ConfigurationIsFifo", [](BoundedStart& t, ToolRun& run) {
        t.fifoAt("/etc/zev/zev.conf");
        run.args = {"samba"};
        return Expect{1, "verstally: Error: PRODUCT_ROOT_D not defined\n"};
    }},
    {"PasswordFileIsFifo", [](BoundedStart& t, ToolRun& run) {
        t.fifoAt(ADMIN_PASSWORD_FILE);
        run.args = {"samba"};
        return Expect{1, "verstally: db_connect: Unable to read admin password file /etc/zev/.zev.shadow: Invalid "
                         "argument\nverstally: Unable to connect to the mysql database\nSystem error 22: "
                         "Invalid argument\n"};
    }},
    // my.cnf is read only while MYSQL_UNIX_PORT is unset: these go over TCP.
    {"MyCnfIsFifo", [](BoundedStart& t, ToolRun& run) {
        t.fifoAt("/etc/my.cnf");
        return lookUpSambaOverTcp(t, run);
    }},
    {"MyCnfIsLinkToDevZero", [](BoundedStart& t, ToolRun& run) {
        t.sandbox.symlink("/dev/zero", "/etc/my.cnf");
        return lookUpSambaOverTcp(t, run);
    }},
    // An overlong line that begins with a NUL byte is dropped whole: its
    // tail must not pass for a [mysqld] section naming a dead socket.
    {"MyCnfLineOfNulBytesIsOneLine", [](BoundedStart& t, ToolRun& run) {
        t.sandbox.writeFile("/etc/my.cnf",
                            "[client]\n" + std::string(4095, '\0') + "[mysqld]\nsocket=" + t.dead.socketPath() + "\n");
        t.sandbox.symlink(databaseFacts().socket, "/var/lib/mysql/mysql.sock");
        run.args = {"samba"};
        run.env = {{"ZEV_DB_NAME", t.db.name()}};
        return Expect{0, "samba:3.0\n"};
    }},
    // The identity file is read only in container mode.
    {"IdentityFileIsFifo", [](BoundedStart& t, ToolRun& run) {
        t.sandbox.symlink("127.0.0.1", "/etc/zev/qv_mode");
        t.fifoAt("/proc/qv/veinfo");
        return lookUpSambaOverTcp(t, run);
    }},
    {"SemaphoreFileIsFifo", [](BoundedStart& t, ToolRun&) {
        t.fifoAt(t.semFile());
        return Expect{1, "verstally: failed to open semaphore file " + t.semFile() + ": Invalid argument\n"};
    }},
    {"SemaphoreFileIsLink", [](BoundedStart& t, ToolRun&) {
        t.sandbox.symlink(t.planted(), t.semFile());
        return Expect{1, "verstally: failed to open semaphore file " + t.semFile() +
                             ": Too many levels of symbolic links\n"};
    }},
    {"SemaphoreDirectoryIsLink", [](BoundedStart& t, ToolRun&) {
        t.sandbox.makeDir(t.sandbox.root() + "/var-elsewhere");
        t.sandbox.symlink(t.sandbox.root() + "/var-elsewhere", t.sandbox.productRoot() + "/var");
        return Expect{0, ""};
    }},
    {"DirtyFlagIsFifo", [](BoundedStart& t, ToolRun& run) {
        t.fifoAt(t.flagFile());
        return dirtyFlagAsRoot(t, run, EINVAL);
    }},
    {"DirtyFlagIsLink", [](BoundedStart& t, ToolRun& run) {
        t.sandbox.symlink(t.planted(), t.flagFile());
        return dirtyFlagAsRoot(t, run, ELOOP);
    }},
};

TEST_P(BoundedStart, EndsWithItsOwnOutcome) {
    constexpr int boundSeconds = 20;
    ToolRun run = toolRun({});
    const Expect expect = GetParam().prepare(*this, run);
    if (HasFatalFailure()) return;
    double seconds = 0;
    const Outcome r = runBounded(run, boundSeconds, seconds);
    ASSERT_TRUE(r.exited) << "still running after " << boundSeconds << " s, or killed by signal " << r.status;
    EXPECT_EQ(r.status, expect.status) << r.err;
    EXPECT_EQ(r.out, expect.out);
    EXPECT_EQ(r.err, expect.status == 0 ? "" : r.out);
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted())));
}

INSTANTIATE_TEST_SUITE_P(HostileStart, BoundedStart, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StartCase>& param_info) { return param_info.param.name; });

}  // namespace
