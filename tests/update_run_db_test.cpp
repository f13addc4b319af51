#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "env/constants.h"
#include "harness/accounts.h"
#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

using Rows = std::vector<std::pair<std::string, std::string>>;

class UpdateRun : public ToolWithDatabase {
protected:
    void installSleepingDpkgQuery() {
        sandbox.writeFile("/usr/bin/dpkg-query", "#!/bin/sh\necho $$ > '" + pidFile() + "'\nexec sleep 1000\n", 0755);
    }
    std::string pidFile() const { return sandbox.root() + "/dpkg-query.pid"; }
    // The pid of the hanging dpkg-query, once it runs (0 after 30 s).
    pid_t waitForDpkgQuery() const {
        for (int i = 0; i < 600; ++i) {
            std::string text = readWholeFile(pidFile());
            if (!text.empty() && text.back() == '\n') return static_cast<pid_t>(std::stol(text));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }
    std::vector<std::string> replaces() { return db.statementsMentioning("REPLACE Components"); }
    // Starts `run`, waits until the stand-in child has written its pid,
    // sends `signal` (SIGALRM: the time-out strikes) and collects the run.
    // `waited` is that pid.
    Outcome runUntilEnded(pid_t& waited, const ToolRun& run, int signal) {
        const std::string out = sandbox.root() + "/t.out", err = sandbox.root() + "/t.err";
        int tool = startTool(sandbox, run, out, err);
        waited = waitForDpkgQuery();
        if (waited != 0) kill(tool, signal);
        else kill(tool, SIGKILL);
        return collectChild(tool, out, err);
    }
};

TEST_F(UpdateRun, NothingInstalledWritesEveryComponentAsNotInstalled) {
    FakeDpkgQuery dpkg(sandbox, "");
    Outcome r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    Rows expected;
    for (const auto& c : registeredComponents()) expected.emplace_back(c.name, "not_installed");
    const auto rows = componentRows(db);
    EXPECT_EQ(rows.size(), 34u);
    EXPECT_EQ(Rows(rows.begin(), rows.end()), expected);
    EXPECT_EQ(replaces(), std::vector<std::string>{expectedReplace(expected)});
}

TEST_F(UpdateRun, EverythingInstalledWritesEveryVersionInOneStatement) {
    std::string records;
    for (const auto& c : registeredComponents())
        if (*c.debianPackage) records += installedRecord(c.debianPackage, std::string("1:") + c.debianPackage + "-1");
    records += installedRecord("mysql-server", "5.0.32-7") + installedRecord("mysql-server-4.1", "4.1.11") +
               installedRecord("libapache2-mod-php4", "4:4.4.4-8") + installedRecord("libapache2-mod-php5", "5.2.0-8") +
               installedRecord("drweb-base", "4.33-b") + installedRecord("drweb-updater", "4.33-u") +
               installedRecord("drweb-daemon", "4.33.2-d");
    FakeDpkgQuery dpkg(sandbox, records);
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\necho 'FrontPage Server Extensions'\necho 'Version: 5.0.2.2623'\n",
                      0755);
    const std::string cfPath = sandbox.root() + "/cf";
    sandbox.writeFile(cfPath + "/bin/cfinfo", readWholeFile(VERSTALLY_PRINT_INVOCATION_PATH), 0755);
    db.exec("INSERT INTO misc VALUES ('cf_instance_type', 'standard'), ('cf_instance_path', '" + cfPath + "')");

    Outcome r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");

    Rows expected;
    for (const auto& c : registeredComponents()) {
        std::string name = c.name;
        std::string version = *c.debianPackage ? std::string("1:") + c.debianPackage + "-1" : "";
        if (name == "mysql") version = "5.0.32-7";
        if (name == "php") version = "4:4.4.4-8";
        if (name == "drweb") version = "4.33.2-d";
        if (name == "frontpage") version = "5.0.2.2623";
        if (name == "coldfusion") version = "Version: cfinfo|-info|" + cfPath + "/bin";
        expected.emplace_back(name, version);
    }
    const auto rows = componentRows(db);
    EXPECT_EQ(Rows(rows.begin(), rows.end()), expected);
    EXPECT_EQ(replaces(), std::vector<std::string>{expectedReplace(expected)});
    // One batch for every single-package component, one query per rule.
    const auto asked = dpkg.askedNames();
    ASSERT_EQ(asked.size(), 4u);
    std::vector<std::string> batch;
    for (const auto& c : registeredComponents())
        if (*c.debianPackage) batch.push_back(c.debianPackage);
    EXPECT_EQ(asked[0], batch);
}

TEST_F(UpdateRun, RealPackageDatabaseAnswersEverySinglePackageRow) {
    Outcome r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = componentRows(db);
    EXPECT_EQ(rows.size(), 34u);
    for (const auto& c : registeredComponents()) {
        if (!*c.debianPackage) continue;
        // What the machine's own dpkg-query says of the package.
        const std::string command =
            std::string("dpkg-query -W -f='${db:Status-Status} ${Version}' '") + c.debianPackage + "' 2>/dev/null";
        char answer[512] = {};
        if (FILE* pipe = popen(command.c_str(), "r")) {
            const std::size_t got = std::fread(answer, 1, sizeof answer - 1, pipe);
            answer[got] = '\0';
            pclose(pipe);
        }
        const std::string text = answer;
        const bool installed = text.rfind("installed ", 0) == 0 && text.size() > 10;
        EXPECT_EQ(rows.at(c.name), installed ? text.substr(10) : "not_installed") << c.name;
    }
}

TEST_F(UpdateRun, VendorVersionsAreStoredLiterally) {
    FakeDpkgQuery dpkg(sandbox, "");
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\necho \"Version: 5.0'); DROP TABLE misc; -- \\\\x\"\n", 0755);
    Outcome r = run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(componentRows(db).at("frontpage"), "5.0'); DROP TABLE misc; -- \\x");
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM misc"), "0");
}

TEST_F(UpdateRun, FailedQuestionWritesNothingAndPrintsTheExceptionOnly) {
    FakeDpkgQuery dpkg(sandbox, "");
    // The unprivileged run must read the password file (its own, as a
    // password file must be) and make the lock.
    ASSERT_EQ(chown(sandbox.layerPath(ADMIN_PASSWORD_FILE).c_str(), NOBODY_ID, NOBODY_ID), 0);
    chmod(sandbox.productRoot().c_str(), 0777);
    ToolRun r = toolRun({});
    r.uid = NOBODY_ID;
    r.gid = NOBODY_ID;
    r.maxProcesses = 0;  // no room for a child
    Outcome result = runTool(sandbox, r);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, std::string("forkExecvPipes: fork() failed: ") + std::strerror(EAGAIN));
    EXPECT_TRUE(componentRows(db).empty());
    EXPECT_TRUE(replaces().empty());
}

TEST_F(UpdateRun, DatabaseDownEndsBeforeTheLock) {
    DeadServer dead;
    FakeDpkgQuery dpkg(sandbox, "");
    // A refused connection reads the same over TCP and a Unix socket.
    for (const auto& env : {dead.tcpEnv(db.name()), dead.socketEnv(db.name())}) {
        Outcome r = run({}, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, StartsWith("verstally: db_connect: failed to connect to database: Error: "));
        EXPECT_THAT(r.err, EndsWith(" (111)\nverstally: Unable to connect to the mysql database\nSystem error 111: " +
                                    std::string(std::strerror(ECONNREFUSED)) + "\n"));
        EXPECT_EQ(r.out, r.err);
    }
    // The product root lies outside every overlay: its path is the same
    // inside and out.
    EXPECT_NE(access((sandbox.productRoot() + "/var/utilities.sem").c_str(), F_OK), 0);
    EXPECT_TRUE(dpkg.runs().empty());
}

TEST_F(UpdateRun, FailedStatementIsReported) {
    FakeDpkgQuery dpkg(sandbox, "");
    db.exec("DROP TABLE Components");
    Outcome r = run({});
    EXPECT_EQ(r.status, 1);
    // The server's reason alone: no leftover error of the client library.
    EXPECT_EQ(r.err, "verstally: Unable to update Components in DB: Table '" + db.name() +
                         ".Components' doesn't exist\n");
    EXPECT_EQ(r.out, r.err);
}

// Started by a caller that closed 0, 1 and 2: no file or connection may
// take their numbers and receive the messages.
TEST_F(UpdateRun, ClosedStandardDescriptorsReceiveNothing) {
    FakeDpkgQuery dpkg(sandbox, "");
    const std::string semaphoreFile = sandbox.productRoot() + "/var/utilities.sem";
    for (const bool tableThere : {true, false}) {
        if (!tableThere) db.exec("DROP TABLE Components");  // the run ends with a message
        ToolRun closed = toolRun({});
        closed.closeStandardStreams = true;
        Outcome r = runTool(sandbox, closed);
        EXPECT_EQ(r.status, tableThere ? 0 : 1) << tableThere;
        EXPECT_EQ(readWholeFile(semaphoreFile), "") << tableThere;
        if (tableThere) {
            EXPECT_EQ(componentRows(db).size(), 34u);
        }
    }
}

// The time-out, driven by SIGALRM while a child hangs, counts itself,
// writes nothing and ends every process the run started: a hung
// dpkg-query, and a vendor tool whose own children keep its pipe open, one
// in its group, one in a session of its own, out of reach of any group. A
// signal that ends the run does the same without counting. What the run's
// caller started itself (a wrapper's job) lives on; a caller's ignored
// SIGCHLD or blocked SIGALRM changes nothing.
TEST_F(UpdateRun, TimeOutOrSignalEndsWhatTheRunStartedAndNothingElse) {
    const std::string cfPath = sandbox.root() + "/cf", spared = sandbox.root() + "/spared.pid";
    const std::string inGroup = sandbox.root() + "/in-group.pid", ownSession = sandbox.root() + "/own-session.pid";
    const std::string stuckTool = "#!/bin/sh\nsleep 1000 & echo $! > '" + inGroup +
                                  "'\nsetsid sleep 1000 & echo $! > '" + ownSession + "'\necho $$ > '" + pidFile() +
                                  "'\nwait\n";
    const struct {
        const char* before;  // verstally_fails (null: absent)
        const char* after;
        bool inVendorTool;
        int signal;
        bool wrapped, hostile;  // started by a wrapper with a job of its own; ToolRun::hostileSignals
    } cases[] = {{nullptr, "1", false, SIGALRM, false, false}, {"3", "4", false, SIGALRM, false, true},
                 {"", "1", false, SIGALRM, true, false},       {nullptr, "1", true, SIGALRM, false, false},
                 {"3", "3", true, SIGTERM, false, false},      {"3", "3", false, SIGINT, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.inVendorTool ? "vendor tool " : "dpkg-query ") + strsignal(c.signal) +
                     (c.wrapped ? ", wrapped" : "") + (c.hostile ? ", hostile" : ""));
        db.exec("DELETE FROM misc");
        if (c.before != nullptr)
            db.exec(std::string("INSERT INTO misc VALUES ('verstally_fails', '") + c.before + "')");
        unlink(pidFile().c_str());
        std::unique_ptr<FakeDpkgQuery> dpkg;
        if (c.inVendorTool) {
            dpkg = std::make_unique<FakeDpkgQuery>(sandbox, "");
            sandbox.writeFile(cfPath + "/bin/cfinfo", stuckTool, 0755);
            db.exec("INSERT INTO misc VALUES ('cf_instance_type', 'standard'), ('cf_instance_path', '" + cfPath + "')");
        } else {
            installSleepingDpkgQuery();
        }
        ToolRun run = toolRun({});
        if (c.wrapped) run.wrapper = "sleep 1000 & echo $! > '" + spared + "'";
        run.hostileSignals = c.hostile;
        pid_t stuck = 0;
        Outcome r = runUntilEnded(stuck, run, c.signal);
        ASSERT_NE(stuck, 0) << r.err;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("verstally: Verstally ") +
                             (c.signal == SIGALRM ? "timeout" : std::string("ended by SIG") + sigabbrev_np(c.signal)) +
                             "\n");
        EXPECT_EQ(r.out, r.err);
        EXPECT_EQ(db.scalar("SELECT val FROM misc WHERE param = 'verstally_fails'"), c.after);
        EXPECT_TRUE(componentRows(db).empty());
        std::vector<pid_t> started = {stuck};
        for (const std::string& file : {inGroup, ownSession})
            if (c.inVendorTool) started.push_back(static_cast<pid_t>(std::stol(readWholeFile(file))));
        for (pid_t pid : started) {
            EXPECT_EQ(kill(pid, 0), -1) << pid << " was left behind";
            kill(pid, SIGKILL);
        }
        if (c.wrapped) {
            const pid_t job = static_cast<pid_t>(std::stol(readWholeFile(spared)));
            EXPECT_EQ(kill(job, SIGKILL), 0) << "the caller's own job was ended";
        }
    }
}

}  // namespace
