// Load and faults, end to end: many update runs at once, version prints
// while runs write, the server killing the connection, floods, failures and
// undecodable text from dpkg-query. After each, the Components table is the
// complete new set or exactly the old one, and nothing the runs started is
// left running.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "env/constants.h"
#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace fs = std::filesystem;

namespace {

using Rows = std::map<std::string, std::string>;

// Packages that only the rule components (mysql, php, drweb) ask for.
const char* const RULE_PACKAGES[] = {"mysql-server", "libapache2-mod-php4", "drweb-base", "drweb-updater",
                                     "drweb-daemon"};

std::string versionOf(int generation, const std::string& package) {
    return std::to_string(generation) + ".0-" + package;
}

// The rows an update run writes when every package is installed in the
// version of `generation`; generation 0 is the old table, all "old".
Rows rowsOf(int generation) {
    Rows rows;
    for (const auto& c : registeredComponents())
        rows[c.name] = generation == 0    ? "old"
                       : *c.debianPackage ? versionOf(generation, c.debianPackage)
                                          : "not_installed";
    if (generation == 0) return rows;
    rows["mysql"] = versionOf(generation, "mysql-server");
    rows["php"] = versionOf(generation, "libapache2-mod-php4");
    rows["drweb"] = versionOf(generation, "drweb-daemon");
    return rows;
}

class LoadAndFaults : public ToolWithDatabase {
protected:
    void SetUp() override {
        ToolWithDatabase::SetUp();
        if (!IsSkipped()) writeOldTable();
    }

    void writeOldTable() {
        db.exec("DELETE FROM Components");
        for (const auto& row : rowsOf(0)) db.exec("INSERT INTO Components VALUES ('" + row.first + "', 'old')");
    }

    // The dpkg-query stand-in: logs its parent (the run that asked) with
    // its own pid, runs the shell text `before`, then prints the records.
    void installDpkgQuery(const std::string& before) {
        std::remove(runLog().c_str());
        const std::string log = "echo \"$PPID $$\" >> '" + runLog() + "'\n";
        sandbox.writeFile("/usr/bin/dpkg-query", "#!/bin/sh\n" + log + before + "cat '" + recordsFile() + "'\n", 0755);
    }
    // Every package installed in the version of `generation`, after
    // `filler` bytes of whole records of an unknown package.
    void setGeneration(int generation, std::size_t filler = 0) const {
        std::string records;
        const std::string junk = dpkgRecord("filler", "unknown ok not-installed", "");
        while (records.size() < filler) records += junk;
        for (const auto& c : registeredComponents())
            if (*c.debianPackage) records += installedRecord(c.debianPackage, versionOf(generation, c.debianPackage));
        for (const char* package : RULE_PACKAGES) records += installedRecord(package, versionOf(generation, package));
        sandbox.writeFile(recordsFile(), records);
    }
    std::string file(const std::string& name) const { return sandbox.root() + "/" + name; }
    std::string runLog() const { return file("dpkg-query.runs"); }
    std::string recordsFile() const { return file("dpkg-query.records"); }
    // Where the streams of the i-th of several runs at once go.
    std::string outOf(int i) const { return file(std::to_string(i) + ".out"); }
    std::string errOf(int i) const { return file(std::to_string(i) + ".err"); }
    void touch(const std::string& name) const { std::fclose(std::fopen(file(name).c_str(), "w")); }

    // The run (parent pid) of every dpkg-query so far, in order.
    std::vector<pid_t> askingRuns() const {
        std::vector<pid_t> runs;
        std::istringstream log(readWholeFile(runLog()));
        long parent = 0, own = 0;
        while (log >> parent >> own) runs.push_back(static_cast<pid_t>(parent));
        return runs;
    }

    // Processes inside this sandbox: their mounts name its directory. Gives
    // ending ones a few seconds to go.
    std::vector<pid_t> processesInSandbox(int patienceTenths = 50) const {
        std::vector<pid_t> found;
        for (int tries = 0; tries < patienceTenths; ++tries) {
            found.clear();
            for (const auto& entry : fs::directory_iterator("/proc")) {
                const std::string name = entry.path().filename();
                if (name.find_first_not_of("0123456789") == std::string::npos &&
                    readWholeFile("/proc/" + name + "/mountinfo").find(sandbox.root()) != std::string::npos)
                    found.push_back(static_cast<pid_t>(std::stol(name)));
            }
            if (found.empty()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return found;
    }
};

TEST_F(LoadAndFaults, TwentyRunsStartedAtOnceTakeTurnsAndLeaveTheCompleteTable) {
    // The first question waits until some run has ended: one that found
    // the lock taken, since the holder cannot have ended yet.
    installDpkgQuery("while [ ! -e '" + file("go") + "' ]; do sleep 0.01; done\n");
    setGeneration(1);
    std::vector<int> runs;
    for (int i = 0; i < 20; ++i) runs.push_back(startTool(sandbox, toolRun({}), outOf(i), errOf(i)));
    std::set<pid_t> endedEarly;
    for (int tries = 0; tries < 600 && endedEarly.empty(); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int run : runs)
            if (hasEnded(run)) endedEarly.insert(run);
    }
    touch("go");
    EXPECT_FALSE(endedEarly.empty()) << "no run found the lock taken";
    for (int i = 0; i < 20; ++i) {
        Outcome r = collectChild(runs[i], outOf(i), errOf(i));
        EXPECT_TRUE(r.exited && r.status == 0) << i << ": " << r.status << " " << r.err;
        EXPECT_EQ(r.out + r.err, "") << i;
    }
    // The runs' own record: each run that held the lock asked its four
    // questions in a row, none of another run among them, and wrote once;
    // the others asked nothing and wrote nothing.
    std::vector<pid_t> holders;
    for (pid_t run : askingRuns())
        if (holders.empty() || holders.back() != run) holders.push_back(run);
    EXPECT_EQ(askingRuns().size(), 4 * holders.size());
    EXPECT_EQ(std::set<pid_t>(holders.begin(), holders.end()).size(), holders.size()) << "runs took turns inside";
    for (pid_t holder : holders) {
        EXPECT_NE(std::find(runs.begin(), runs.end(), holder), runs.end());
        EXPECT_EQ(endedEarly.count(holder), 0u);
    }
    EXPECT_GE(holders.size(), 1u);
    EXPECT_EQ(db.statementsMentioning("REPLACE Components").size(), holders.size());
    EXPECT_EQ(componentRows(db), rowsOf(1));
    EXPECT_EQ(processesInSandbox(), std::vector<pid_t>{});
}

TEST_F(LoadAndFaults, HundredVersionPrintsWhileRunsWritePrintWholeRows) {
    installDpkgQuery("");
    std::map<std::string, std::set<std::string>> written;  // every print a row's versions allow
    const auto record = [&](int generation) {
        for (const auto& row : rowsOf(generation)) written[row.first].insert(row.first + ":" + row.second + "\n");
    };
    record(0);
    int generation = 0, writer = -1;
    const std::string wout = file("writer.out"), werr = file("writer.err");
    auto nextWriter = [&] {
        setGeneration(++generation);
        record(generation);
        writer = startTool(sandbox, toolRun({}), wout, werr);
    };
    auto collectWriter = [&] {
        Outcome w = collectChild(writer, wout, werr);
        EXPECT_EQ(w.status, 0) << generation << ": " << w.err;
        EXPECT_EQ(w.out + w.err, "");
    };

    nextWriter();
    const auto& components = registeredComponents();
    for (int printed = 0; printed < 100; printed += 10) {
        // Ten prints at once, while the current run writes.
        std::vector<std::pair<int, std::string>> prints;
        for (int i = 0; i < 10; ++i) {
            const std::string name = components[static_cast<std::size_t>(printed + i) % components.size()].name;
            prints.emplace_back(startTool(sandbox, toolRun({name}), outOf(i), errOf(i)), name);
        }
        for (int i = 0; i < 10; ++i) {
            const std::string& name = prints[i].second;
            Outcome r = collectChild(prints[i].first, outOf(i), errOf(i));
            EXPECT_EQ(r.status, 0) << name << ": " << r.err;
            EXPECT_EQ(r.err, "") << name;
            EXPECT_EQ(written[name].count(r.out), 1u) << r.out;
        }
        if (hasEnded(writer)) {
            collectWriter();
            nextWriter();
        }
    }
    collectWriter();
    std::printf("100 version prints during %d update runs\n", generation);
    EXPECT_EQ(componentRows(db), rowsOf(generation));
    EXPECT_EQ(processesInSandbox(), std::vector<pid_t>{});
}

// Faults while the components are asked: a run that succeeds writes the
// whole new set, one that fails nothing.
TEST_F(LoadAndFaults, FaultsWhileTheComponentsAreAskedWriteAllOrNothing) {
    const std::string go = file("go"), running = file("running");
    const struct {
        const char* what;
        std::string before;   // shell text dpkg-query runs before its records
        std::size_t filler;   // bytes of other records before the real ones
        bool killConnection;  // the server ends the tool's sessions meanwhile
        int status;
        std::string zombies = "";  // what the stand-in counts of the run's zombies, when it does
        bool hostile = false;      // ToolRun::hostileSignals
    } faults[] = {
        {"connection killed by the server",
         "touch '" + running + "'\nwhile [ ! -e '" + go + "' ]; do sleep 0.05; done\n", 0, true, 1},
        {"16 MiB of output before the records", "", 16u << 20, false, 0},
        {"32 MiB on standard error", "head -c 33554432 /dev/zero | tr '\\000' e >&2\n", 0, false, 0},
        // The run inherits 300 orphans that end at once; none stays a zombie.
        {"300 orphans",
         "for i in $(seq 300); do sh -c 'sleep 0.01 &'; done; sleep 0.5\ncat /proc/[0-9]*/stat 2>/dev/null | "
         "awk '$3 == \"Z\" && $4 == '$PPID' { n++ } END { print n + 0 }' > '" + file("zombies") + "'\n", 0, false, 0,
         "0\n"},
        {"a caller that ignores SIGCHLD and blocks SIGALRM", "", 0, false, 0, "", true},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        writeOldTable();
        std::remove(go.c_str());
        std::remove(running.c_str());
        installDpkgQuery(f.before);
        setGeneration(1, f.filler);
        ToolRun run = toolRun({});
        run.hostileSignals = f.hostile;
        const int tool = startTool(sandbox, run, file("t.out"), file("t.err"));
        if (f.killConnection) {
            for (int i = 0; i < 600 && access(running.c_str(), F_OK) != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_FALSE(processesInSandbox(1).empty()) << "the run is not seen in its sandbox";
            // The tool's sessions on the server.
            const auto sessions = db.query("SELECT id FROM information_schema.processlist WHERE user = 'admin' "
                                           "AND db = " + db.root().quote(db.name()));
            EXPECT_FALSE(sessions.empty());
            for (const DbRow& id : sessions) db.exec("KILL CONNECTION " + id[0].value_or(""));
            touch("go");
        }
        Outcome r = collectChild(tool, file("t.out"), file("t.err"));
        EXPECT_EQ(r.status, f.status) << r.err;
        if (f.status == 0) {
            EXPECT_EQ(r.out + r.err, "");
        } else {
            EXPECT_EQ(r.err.rfind("verstally: Unable to update Components in DB: ", 0), 0u) << r.err;
            EXPECT_EQ(r.out, r.err);
        }
        EXPECT_EQ(askingRuns().size(), 4u);
        if (!f.zombies.empty()) {
            EXPECT_EQ(readWholeFile(file("zombies")), f.zombies);
        }
        EXPECT_EQ(componentRows(db), rowsOf(f.status == 0 ? 1 : 0));
        EXPECT_EQ(processesInSandbox(), std::vector<pid_t>{});
    }
}

// Whatever dpkg-query says or fails to say: the rows of bind and samba
// after a run over the old table, or the run's message with the old table
// kept whole. Only a dpkg-query that is not there means nothing installed;
// one that is there but cannot start (no /dev/null, no interpreter) fails.
TEST_F(LoadAndFaults, OnlyDpkgQuerysOwnAnswerOrItsAbsenceReplacesVersions) {
    const std::string failed = "Unable to query the package database: /usr/bin/dpkg-query ";
    const std::string notStarted = failed + "could not be started: ";
    struct Case {
        mode_t mode;  // 0: no dpkg-query at all
        std::string ending, error, bind, samba;
        std::string devNull = "";      // "absent", "directory" or "file": what /dev/null is
        std::string interpreter = "";  // the stand-in's, when not /bin/sh
    };
    const Case cases[] = {
        {0, "", "", "not_installed", "not_installed"},
        {0644, "", notStarted + std::strerror(EACCES) + "\n", "old", "old"},
        {0755, "exit 2", failed + "exited with status 2\n", "old", "old"},
        {0755, "kill -KILL $$", failed + "was ended by a signal\n", "old", "old"},
        // Some names unknown; samba's i386 copy left as config-files.
        {0755, "exit 1", "", "1:9.2.4-1", "2:4.17"},
        {0755, "", notStarted + "/dev/null: " + std::strerror(ENOENT) + "\n", "old", "old", "absent"},
        {0755, "", notStarted + "/dev/null: " + std::strerror(EISDIR) + "\n", "old", "old", "directory"},
        {0755, "", notStarted + "/dev/null: " + std::strerror(ENODEV) + "\n", "old", "old", "file"},
        {0755, "", notStarted + "interpreter /nonexistent/sh: " + std::strerror(ENOENT) + "\n", "old", "old", "",
         "/nonexistent/sh"},
    };
    const std::string records = installedRecord("bind9", "1:9.2.4-1") + installedRecord("samba", "2:4.17") +
                                dpkgRecord("samba", "deinstall ok config-files", "2:4.16");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode == 0 ? "absent" : c.error);
        writeOldTable();
        std::error_code ignored;
        fs::remove_all(sandbox.layerPath("/dev"), ignored);
        if (c.devNull == "absent") sandbox.remove("/dev/null");
        if (c.devNull == "directory") sandbox.makeDir("/dev/null");
        if (c.devNull == "file") sandbox.writeFile("/dev/null", "");
        if (c.mode != 0) {
            FakeDpkgQuery fake(sandbox, records, c.mode, c.ending);
            const std::string script = sandbox.readFile(DPKG_QUERY_PATH);
            if (!c.interpreter.empty()) sandbox.writeFile(DPKG_QUERY_PATH, "#!" + c.interpreter + script.substr(9), c.mode);
        } else {
            sandbox.remove(DPKG_QUERY_PATH);
            EXPECT_EQ(runInSandbox(sandbox, [] { std::printf("%d", access(DPKG_QUERY_PATH, F_OK)); }).out, "-1");
        }
        Outcome r = run({});
        auto rows = componentRows(db);
        EXPECT_EQ(r.status, c.error.empty() ? 0 : 1);
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(rows.size(), 34u);
        EXPECT_EQ(rows["bind"], c.bind);
        EXPECT_EQ(rows["samba"], c.samba);
        if (!c.error.empty()) {
            EXPECT_EQ(rows, rowsOf(0));
        }
    }
}

TEST_F(LoadAndFaults, UndecodableVersionsAreStoredWithQuestionMarks) {
    FakeDpkgQuery dpkg(sandbox,
                       installedRecord("bind9", "1:9\xff.2") + installedRecord("samba", "caf\xc3\xa9\xed\xa0\x80"));
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\nprintf 'Version: 5\\300\\257.0\\n'\n", 0755);
    for (const char* charset : {"utf8mb4", "latin1"}) {
        SCOPED_TRACE(charset);
        db.exec(std::string("ALTER TABLE Components CONVERT TO CHARACTER SET ") + charset);
        db.exec("DELETE FROM Components");
        Outcome r = run({});
        EXPECT_EQ(r.status, 0) << r.err;
        auto rows = componentRows(db);
        EXPECT_EQ(rows.size(), 34u);
        EXPECT_EQ(rows["bind"], "1:9?.2");
        EXPECT_EQ(rows["samba"], "caf\xc3\xa9???");
        EXPECT_EQ(rows["frontpage"], "5??.0");
    }
}

}  // namespace
