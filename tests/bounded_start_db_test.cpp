// Everything the tool reads or opens before its time-out is armed, made
// hostile: each run must end by itself, promptly, with its usual outcome.
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "harness/accounts.h"
#include "env/constants.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

/// What a case's run must end with.
struct Expect {
    Expect(int wantedStatus, std::string wantedOut, bool wholeWantedOut = true)
        : status(wantedStatus), out(std::move(wantedOut)), wholeOut(wholeWantedOut) {}
    int status;
    std::string out;  // standard output; a failure writes the same to standard error
    bool wholeOut;    // else `out` is only how standard output begins
};

constexpr int kBoundSeconds = 20;

class BoundedStart;
using Prepare = std::function<Expect(BoundedStart&, ToolRun&)>;

struct StartCase {
    const char* name;
    Prepare prepare;
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

/// A sandbox with the configuration, the password file, a database holding
/// the row "samba" = "3.0" and a dpkg-query that knows no package. Runs are
/// bounded: one still running after kBoundSeconds is killed.
class BoundedStart : public ToolWithDatabase, public ::testing::WithParamInterface<StartCase> {
public:
    using ToolWithDatabase::db;
    using ToolWithDatabase::sandbox;

    void SetUp() override {
        ToolWithDatabase::SetUp();
        if (IsSkipped()) return;
        db.exec("INSERT INTO Components (name, version) VALUES ('samba', '3.0')");
    }

    /// Runs the tool; a run killed at the bound has `exited` false.
    /// `seconds` is how long it ran.
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

    /// A FIFO at `path`: a system path seen inside the sandbox, or a path
    /// below the sandbox directory (the product root).
    void fifoAt(const std::string& path) const {
        const std::string outside = path.rfind(sandbox.root(), 0) == 0 ? path : sandbox.layerPath(path);
        fs::create_directories(fs::path(outside).parent_path());
        unlink(outside.c_str());
        ASSERT_EQ(mkfifo(outside.c_str(), 0600), 0) << outside;
    }
    /// A symbolic link at `path` below the sandbox directory.
    void linkAt(const std::string& target, const std::string& path) const {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
    }

    std::string semFile() const { return sandbox.productRoot() + "/var/utilities.sem"; }
    std::string flagFile() const { return sandbox.productRoot() + "/tmp/components_dirty_flag"; }
    /// Where the planted links point: no run may create it.
    std::string planted() const { return sandbox.root() + "/planted"; }

    FakeDpkgQuery dpkg{sandbox, ""};
    DeadServer dead;
};

const std::string kFound = "samba:3.0\n";
const std::string kNoAccount = "verstally: Unable to getpwnam for user zevadm\n";

Expect lookUpSambaOverTcp(BoundedStart& t, ToolRun& run) {
    run.args = {"samba"};
    run.env = t.db.tcpEnv();
    return Expect(0, kFound);
}

Expect dirtyFlagAsRoot(BoundedStart& t, ToolRun& run, const std::string& failure) {
    writeAccountFiles(t.sandbox, false);
    run.args = {"--set-dirty-flag"};
    return Expect(1, kNoAccount + kNoAccount + "verstally: Creating the dirty flag in " + t.sandbox.productRoot() +
                         "/tmp failed: " + failure);
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
    EXPECT_THAT(r.out, StartsWith("verstally: db_connect: failed to connect to database: Error: "));
    // The bound's own reason, never a leftover "try again" of a read.
    EXPECT_THAT(r.out, HasSubstr("\nverstally: Unable to connect to the mysql database\n\nSystem error 110: " +
                                 std::string(std::strerror(ETIMEDOUT)) + "\n"));
    EXPECT_EQ(r.err, r.out);
}

const StartCase kCases[] = {
    {"ConfigurationIsFifo",
     [](BoundedStart& t, ToolRun& run) {
         t.fifoAt("/etc/zev/zev.conf");
         run.args = {"samba"};
         return Expect(1, "verstally: Error: PRODUCT_ROOT_D not defined\n");
     }},
    {"PasswordFileIsFifo",
     [](BoundedStart& t, ToolRun& run) {
         t.fifoAt("/etc/zev/.zev.shadow");
         run.args = {"samba"};
         return Expect(1,
                       "verstally: db_connect: Unable to read admin password file /etc/zev/.zev.shadow: Invalid "
                       "argument\nverstally: Unable to connect to the mysql database\n",
                       false);
     }},
    // my.cnf is read only while MYSQL_UNIX_PORT is unset: these go over TCP.
    {"MyCnfIsFifo",
     [](BoundedStart& t, ToolRun& run) {
         t.fifoAt("/etc/my.cnf");
         return lookUpSambaOverTcp(t, run);
     }},
    {"MyCnfIsLinkToDevZero",
     [](BoundedStart& t, ToolRun& run) {
         t.sandbox.symlink("/dev/zero", "/etc/my.cnf");
         return lookUpSambaOverTcp(t, run);
     }},
    // An overlong line that begins with a NUL byte is dropped whole: its
    // tail must not pass for a [mysqld] section naming a dead socket.
    {"MyCnfLineOfNulBytesIsOneLine",
     [](BoundedStart& t, ToolRun& run) {
         t.sandbox.writeFile("/etc/my.cnf", std::string(4095, '\0') + "[mysqld]\nsocket=" + t.dead.socketPath() + "\n");
         t.sandbox.symlink(databaseFacts().socket, "/var/lib/mysql/mysql.sock");
         run.args = {"samba"};
         run.env = {{"ZEV_DB_NAME", t.db.name()}};
         return Expect(0, kFound);
     }},
    // The identity file is read only in container mode.
    {"IdentityFileIsFifo",
     [](BoundedStart& t, ToolRun& run) {
         t.sandbox.symlink("127.0.0.1", "/etc/zev/qv_mode");
         t.fifoAt("/proc/qv/veinfo");
         return lookUpSambaOverTcp(t, run);
     }},
    {"SemaphoreFileIsFifo",
     [](BoundedStart& t, ToolRun&) {
         t.fifoAt(t.semFile());
         return Expect(1, "verstally: failed to open semaphore file " + t.semFile() + ": Invalid argument\n");
     }},
    {"SemaphoreFileIsLink",
     [](BoundedStart& t, ToolRun&) {
         t.linkAt(t.planted(), t.semFile());
         return Expect(1, "verstally: failed to open semaphore file " + t.semFile() +
                              ": Too many levels of symbolic links\n");
     }},
    {"SemaphoreDirectoryIsLink",
     [](BoundedStart& t, ToolRun&) {
         const std::string var = t.sandbox.root() + "/var-elsewhere";
         fs::create_directories(var);
         t.linkAt(var, t.sandbox.productRoot() + "/var");
         return Expect(0, "");
     }},
    {"DirtyFlagIsFifo",
     [](BoundedStart& t, ToolRun& run) {
         t.fifoAt(t.flagFile());
         return dirtyFlagAsRoot(t, run, "Invalid argument\nSystem error 22: Invalid argument\n");
     }},
    {"DirtyFlagIsLink",
     [](BoundedStart& t, ToolRun& run) {
         t.linkAt(t.planted(), t.flagFile());
         return dirtyFlagAsRoot(
             t, run, "Too many levels of symbolic links\nSystem error 40: Too many levels of symbolic links\n");
     }},
};

TEST_P(BoundedStart, EndsWithItsOwnOutcome) {
    ToolRun run = toolRun({});
    const Expect expect = GetParam().prepare(*this, run);
    if (HasFatalFailure()) return;
    double seconds = 0;
    const Outcome r = runBounded(run, kBoundSeconds, seconds);
    ASSERT_TRUE(r.exited) << "still running after " << kBoundSeconds << " s, or killed by signal " << r.status;
    EXPECT_EQ(r.status, expect.status) << r.err;
    if (expect.wholeOut) {
        EXPECT_EQ(r.out, expect.out);
    } else {
        EXPECT_THAT(r.out, StartsWith(expect.out));
    }
    EXPECT_EQ(r.err, expect.status == 0 ? "" : r.out);
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted())));
}

INSTANTIATE_TEST_SUITE_P(HostileStart, BoundedStart, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StartCase>& param_info) { return param_info.param.name; });

}  // namespace
