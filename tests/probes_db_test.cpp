#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace {

using ::testing::StartsWith;

const std::string INVOCATION = readWholeFile(VERSTALLY_PRINT_INVOCATION_PATH);

// Vendor probes seen through a whole update run (nothing else installed).
class Probe : public ToolWithDatabase {
protected:
    void SetUp() override {
        ToolWithDatabase::SetUp();
        if (IsSkipped()) return;
        dpkg = std::make_unique<FakeDpkgQuery>(sandbox, "");
        cfPath = sandbox.root() + "/cf";
    }
    void setColdfusion(const std::string& type, const std::string& path) {
        db.exec("REPLACE INTO misc VALUES ('cf_instance_type', " + db.root().quote(type) + "), ('cf_instance_path', " +
                db.root().quote(path) + ")");
    }
    // The row the run wrote for `component`; "<no row>" when the run wrote
    // nothing (its outcome is kept in `last`).
    std::string rowAfterRun(const std::string& component) {
        last = run({});
        auto rows = componentRows(db);
        db.exec("DELETE FROM Components");
        return rows.count(component) ? rows[component] : "<no row>";
    }

    // An update run in whose mount namespace a FUSE file system (bindfs)
    // mirrors `source` at `mountPoint`, root's files as root's. Status 125,
    // and why on standard error, when the mount fails.
    Outcome runOverFuse(const std::string& source, const std::string& mountPoint) {
        return captureInChild([&] {
            enterPrivateMountNamespace();
            if (std::system(("exec >&2; bindfs -o nonempty '" + source + "' '" + mountPoint + "'").c_str()) != 0)
                childFailed("no FUSE mount can be made here");
            const Outcome inner = runTool(sandbox, toolRun({}));
            umount2(mountPoint.c_str(), MNT_DETACH);
            std::fputs(inner.err.c_str(), stderr);
            std::fflush(stderr);
            _exit(inner.exited ? inner.status : 128 + inner.status);
        });
    }

    std::unique_ptr<FakeDpkgQuery> dpkg;
    std::string cfPath;
    Outcome last;
};

// The instance parameters choose the tool: "j2ee" exactly runs jrun, any
// other type of two characters or more cfinfo, in the tool's directory;
// parameters that are missing or too short, or no tool, mean not installed.
TEST_F(Probe, ColdfusionRunsTheToolOfItsInstanceType) {
    sandbox.writeFile(cfPath + "/bin/jrun", INVOCATION, 0755);
    sandbox.writeFile(cfPath + "/bin/cfinfo", INVOCATION, 0755);
    const std::string bin = cfPath + "/bin";
    const struct {
        const char* type;
        std::string path, row;
    } cases[] = {
        {nullptr, "", "not_installed"},
        {"j2ee", cfPath, "Version: jrun|-version|" + bin},
        {"J2EE", cfPath, "Version: cfinfo|-info|" + bin},
        {"j2ee ", cfPath + "/", "Version: cfinfo|-info|" + bin},  // a doubled slash stays harmless
        {"s", cfPath, "not_installed"},
        {"standard", "/", "not_installed"},
        {"standard", sandbox.root() + "/nowhere", "not_installed"},
        {"standard", cfPath + "/bin/cfinfo", "not_installed"},  // a file where a directory should be
    };
    for (const auto& c : cases) {
        if (c.type != nullptr) setColdfusion(c.type, c.path);
        EXPECT_EQ(rowAfterRun("coldfusion"), c.row) << (c.type ? c.type : "no parameters") << " " << c.path;
        EXPECT_EQ(last.status, 0);
        EXPECT_EQ(last.out + last.err, "");
    }
}

TEST_F(Probe, ColdfusionTakesTheFirstLineOfWhatTheToolSays) {
    setColdfusion("standard", cfPath);
    const std::pair<std::string, std::string> outputs[] = {
        {"printf '7,0,2,142559\\nsecond line\\n'", "7,0,2,142559"},
        {"printf ' 7.0 \\r'", " 7.0 \r"},
        {"echo 7.0.2; exit 1", "7.0.2"},  // a Java tool's way
        {"true", ""},
        // Standard input is /dev/null, not whatever the run had open.
        {"readlink /proc/self/fd/0", "/dev/null"},
        // Far more than a pipe holds: the run must not block on it.
        {"echo 8.0.1; head -c 200000 /dev/zero | tr '\\0' x", "8.0.1"},
        {"head -c 5000 /dev/zero | tr '\\0' y", std::string(4096, 'y')},
    };
    for (const auto& output : outputs) {
        sandbox.writeFile(cfPath + "/bin/cfinfo", "#!/bin/sh\n" + output.first + "\n", 0755);
        EXPECT_EQ(rowAfterRun("coldfusion"), output.second) << output.first;
    }
}

// A tool that is there but cannot be started, that runs what another user
// may choose (an interpreter, a FUSE file system's claims), that a signal
// ended or that could not really run (126, 127), a grep in trouble, or a
// tool that cannot even be looked at, fails the run instead of changing its
// row: none of them answered.
TEST_F(Probe, ToolThatIsThereButCannotSafelyRunFailsTheRun) {
    const std::string tool = cfPath + "/bin/cfinfo", mirrored = sandbox.root() + "/mirrored";
    const std::string usersShell = sandbox.root() + "/users/sh", scriptShell = sandbox.root() + "/script-sh";
    const std::string looping = sandbox.root() + "/loop", tooLong = cfPath + "/" + std::string(300, 'n');
    sandbox.writeFile(usersShell, readWholeFile("/bin/sh"), 0755);
    ASSERT_EQ(chown(usersShell.c_str(), 65534, 65534), 0);
    sandbox.writeFile(scriptShell, "#!/bin/sh\n", 0755);
    sandbox.writeFile(mirrored + "/cfinfo", "#!/bin/sh\necho 7\n", 0755);
    sandbox.symlink(looping + "/bin/cfinfo", looping + "/bin/cfinfo");
    const auto unable = [](const std::string& program, const std::string& reason, int error) {
        return "Unable to exec program " + program + ": " + reason + std::strerror(error) + "\nSystem error " +
               std::to_string(error) + ": " + std::strerror(error);
    };
    const auto unseen = [](const std::string& what, int error) {
        return "Unable to stat ColdFusion binary file " + what + ": " + std::strerror(error) +
               "\nSystem error " + std::to_string(error) + ": " + std::strerror(error);
    };
    const std::string refused = "Bad file permissions on ColdFusion binary file " + tool;
    const std::string frontpage = FRONTPAGE_TOOL_PATH, noAnswer = " did not answer: it ";
    const struct {
        std::string path;     // the tool, ColdFusion's unless FrontPage's
        std::string content;  // the tool's file
        std::string message;
        bool busy = false;         // the tool open for writing
        bool fuse = false;         // its directory a FUSE mirror of `mirrored`
        std::string instance = "";  // the ColdFusion instance, when not cfPath
        std::string grep = "";      // a stand-in for grep
    } cases[] = {
        {tool, "#!/nonexistent/sh\n", unable(tool, "interpreter /nonexistent/sh: ", ENOENT)},
        {tool, "#!/bin/sh\necho 7\n", unable(tool, "", ETXTBSY), true},
        {tool, "#!" + usersShell + "\n", refused + ": interpreter " + usersShell},
        {tool, "#!" + scriptShell + "\n", refused + ": interpreter " + scriptShell},
        {tool, "#!sh\n", refused + ": interpreter sh"},
        {tool, "#!/bin/sh\necho 7\n", refused, false, true},
        {tool, "#!/bin/sh\necho 7,0; kill -SEGV $$\n", "Program " + tool + noAnswer + "was ended by SIGSEGV"},
        {tool, "#!/bin/sh\necho 'cfinfo: error while loading shared libraries: libh5.so'; exit 127\n",
         "Program " + tool + noAnswer + "exited with status 127"},
        {tool, "#!/bin/sh\nexit 126\n", "Program " + tool + noAnswer + "exited with status 126"},
        {tool, "", unseen(looping + "/bin/cfinfo", ELOOP), false, false, looping},
        {tool, "#!" + looping + "/bin/cfinfo\n", unseen(tool + ": interpreter " + looping + "/bin/cfinfo", ELOOP)},
        {tool, "", unseen(tooLong + "/bin/cfinfo", ENAMETOOLONG), false, false, tooLong},
        {frontpage, "#!/nonexistent/sh\n", unable(frontpage, "interpreter /nonexistent/sh: ", ENOENT)},
        {frontpage, "#!/bin/sh\nkill -SEGV $$\n", "Program " + frontpage + noAnswer + "was ended by SIGSEGV"},
        {frontpage, "#!/bin/sh\necho 'Version: 5'\n", std::string("Program ") + GREP_PATH + noAnswer +
         "exited with status 2", false, false, "", "#!/bin/sh\nexit 2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        unlink(sandbox.layerPath(FRONTPAGE_TOOL_PATH).c_str());
        const bool coldfusion = c.path == tool;
        setColdfusion("standard", coldfusion ? (c.instance.empty() ? cfPath : c.instance) : "/nowhere");
        if (!c.content.empty()) sandbox.writeFile(c.path, c.content, 0755);
        if (!c.grep.empty()) sandbox.writeFile("/usr/bin/grep", c.grep, 0755);  // /bin is a link to /usr/bin
        // Only a machine without the FUSE device cannot run that row; on
        // any other a mount that fails fails the test.
        if (c.fuse && access("/dev/fuse", F_OK) != 0) {
            rowNotRun("a tool on a FUSE mirror", std::string("/dev/fuse: ") + std::strerror(errno));
            continue;
        }
        const int writer = c.busy ? open(tool.c_str(), O_WRONLY | O_CLOEXEC) : -1;
        last = c.fuse ? runOverFuse(mirrored, cfPath + "/bin") : run({});
        if (writer >= 0) close(writer);
        unlink(sandbox.layerPath("/usr/bin/grep").c_str());
        EXPECT_EQ(last.status, 1);
        EXPECT_EQ(last.err, line(c.message));
        EXPECT_TRUE(componentRows(db).empty());
    }
}

TEST_F(Probe, ToolAndEveryDirectoryAboveItMustBeRootsAlone) {
    const std::string tool = cfPath + "/bin/cfinfo";
    const std::string elsewhere = sandbox.root() + "/other";  // holds cf/bin/cfinfo, reached through "link"
    const std::string link = sandbox.root() + "/link";
    const std::string program = sandbox.root() + "/root-owned/program";  // what a link as the tool leads to
    const std::string ran = sandbox.root() + "/ran";  // the program leaves it when it runs
    struct Case {
        std::string changed;  // given to nobody and/or chmod'ed
        bool toNobody;
        mode_t mode;  // 0: unchanged (0755)
        std::string instancePath;
        bool toolIsLink;  // cfinfo a root-owned link to `program`
        bool accepted;
    };
    const Case cases[] = {
        // The owner's read and execute bits are needed, the others do not
        // matter; a directory is no tool.
        {tool, false, 0700, cfPath, false, true},
        {tool, false, 0500, cfPath, false, true},
        {tool, false, 0555, cfPath, false, true},
        {tool, false, 0600, cfPath, false, false},
        {tool, false, 0100, cfPath, false, false},
        {tool, false, 0077, cfPath, false, false},
        {tool, false, 01755 | S_IFDIR, cfPath, false, false},
        {tool, true, 0, cfPath, false, false},                 // tool of another user
        {tool, false, 0757, cfPath, false, false},             // tool writable by others
        {cfPath + "/bin", false, 0775, cfPath, false, false},  // directory writable by group
        {cfPath, true, 0, cfPath, false, false},               // directory of another user
        {elsewhere, true, 0, link, false, false},              // reached by a link through it
        {elsewhere, true, 01777, link, false, false},          // sticky, but not root's
        {elsewhere, false, 01777, link, false, true},          // sticky and root's, like /tmp
        // A link to a root-owned program, in a directory another user owns:
        // where it leads is root's, but the user chose it.
        {cfPath, true, 0, cfPath, true, false},
        // Root's link in root's directories still runs what it names, in
        // the directory that was checked.
        {"", false, 0, cfPath, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        unlink(tool.c_str());
        unlink(ran.c_str());
        sandbox.writeFile(elsewhere + "/cf/bin/cfinfo", "#!/bin/sh\necho 7\n", 0755);
        sandbox.writeFile(program, "#!/bin/sh\ntouch '" + ran + "'\necho \"7 in $(pwd)\"\n", 0755);
        rmdir(tool.c_str());
        if (c.toolIsLink)
            ASSERT_EQ(symlink(program.c_str(), tool.c_str()), 0);
        else if (c.mode & S_IFDIR)
            sandbox.makeDir(tool, 0755);
        else
            sandbox.writeFile(tool, "#!/bin/sh\necho 7\n", 0755);
        unlink(link.c_str());
        ASSERT_EQ(symlink((elsewhere + "/cf").c_str(), link.c_str()), 0);
        for (const std::string& path : {elsewhere, cfPath, cfPath + "/bin", tool})
            ASSERT_EQ(lchown(path.c_str(), 0, 0) | (c.toolIsLink && path == tool ? 0 : chmod(path.c_str(), 0755)), 0);
        ASSERT_EQ(c.toNobody ? chown(c.changed.c_str(), 65534, 65534) : 0, 0);
        ASSERT_EQ(c.mode != 0 ? chmod(c.changed.c_str(), c.mode & 07777) : 0, 0);
        setColdfusion("standard", c.instancePath);
        const std::string expected = c.toolIsLink ? "7 in " + sandbox.root() + "/root-owned" : "7";
        EXPECT_EQ(rowAfterRun("coldfusion"), c.accepted ? expected : "<no row>");
        const std::string refusal = "Bad file permissions on ColdFusion binary file " + c.instancePath + "/bin/cfinfo";
        EXPECT_EQ(last.err, c.accepted ? "" : line(refusal));
        EXPECT_EQ(access(ran.c_str(), F_OK) == 0, c.accepted && c.toolIsLink);
    }
    // FrontPage's tool is checked the same way: its mode, its directories.
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\necho 'Version: 5'\n", 0644);
    EXPECT_EQ(rowAfterRun("frontpage"), "<no row>");
    EXPECT_EQ(last.err, line(std::string("Bad file permissions on frontpage owsadm.exe ") + FRONTPAGE_TOOL_PATH));
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\necho 'Version: 5'\n", 0755);
    chmod(sandbox.layerPath("/usr/local/frontpage").c_str(), 0775);
    EXPECT_EQ(rowAfterRun("frontpage"), "<no row>");
    EXPECT_EQ(last.err, line(std::string("Bad file permissions on frontpage owsadm.exe ") + FRONTPAGE_TOOL_PATH));
}

TEST_F(Probe, FrontpageVersionFollowsTheFirstVersionMark) {
    EXPECT_EQ(rowAfterRun("frontpage"), "not_installed");  // no tool
    const std::pair<std::string, std::string> outputs[] = {
        {"echo 'FrontPage Server Extensions'; echo 'Version: 5.0.2.2623'", "5.0.2.2623"},
        {"echo 'Version: 5.0'; echo 'Version: 6.0'", "5.0"},
        {"echo 'Product Version: 4.0.2 (build 1)'", "4.0.2 (build 1)"},
        {"echo 'no version here'", ""},
        {"echo 'Version:5.0'", ""},
        {"echo 'Version: 5.1' >&2", "5.1"},
        {"echo \"Version: $(readlink /proc/self/fd/0)\"", "/dev/null"},
        // grep passes on far more than a pipe holds; the first part counts.
        {"for i in $(seq 1 20000); do echo 'Version: 9.9'; done", "9.9"},
    };
    for (const auto& output : outputs) {
        sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\n" + output.first + "\n", 0755);
        EXPECT_EQ(rowAfterRun("frontpage"), output.second) << output.first;
    }
}

// The stand-in also names whatever of its start is not clean (grep's input
// is the tool's output). A tool that grep stops reading ends by SIGPIPE:
// grep answered for it.
TEST_F(Probe, FrontpageToolAndGrepAreStartedAsSpecifiedWithNothingInherited) {
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, INVOCATION, 0755);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(rowAfterRun("frontpage"), std::string("owsadm.exe|-version|") + cwd);
    sandbox.writeFile(FRONTPAGE_TOOL_PATH, "#!/bin/sh\nexec head -c 200000 /dev/zero\n", 0755);
    sandbox.writeFile("/usr/bin/grep", INVOCATION, 0755);  // /bin is a link to /usr/bin
    EXPECT_EQ(rowAfterRun("frontpage"), std::string("grep|Version|") + cwd + "|input not /dev/null");
}

}  // namespace
