#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "env/constants.h"
#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "harness/tool_fixture.h"

namespace {

using UpdateFaults = ToolWithDatabase;

// Whatever dpkg-query says or fails to say: the rows of bind and samba
// after a run over old ones, or the run's message with the old rows kept.
TEST_F(UpdateFaults, OnlyDpkgQuerysOwnAnswerOrItsAbsenceReplacesVersions) {
    const std::string failed = "Unable to query the package database: /usr/bin/dpkg-query ";
    struct Case {
        mode_t mode;  // 0: no dpkg-query at all
        std::string ending, error, bind, samba;
    };
    const Case cases[] = {
        {0, "", "", "not_installed", "not_installed"},
        {0644, "", failed + "could not be executed: " + std::strerror(EACCES) + "\n", "", ""},
        {0755, "exit 2", failed + "exited with status 2\n", "", ""},
        {0755, "kill -KILL $$", failed + "was ended by a signal\n", "", ""},
        // Some names unknown; samba's i386 copy left as config-files.
        {0755, "exit 1", "", "1:9.2.4-1", "2:4.17"},
    };
    const std::string records = installedRecord("bind9", "1:9.2.4-1") + installedRecord("samba", "2:4.17") +
                                dpkgRecord("samba", "deinstall ok config-files", "2:4.16");
    const std::string query = sandbox.layerPath(DPKG_QUERY_PATH);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode == 0 ? "absent" : c.error);
        db.exec("DELETE FROM Components");
        db.exec("INSERT INTO Components VALUES ('bind', 'old'), ('samba', 'old')");
        if (c.mode != 0) {
            FakeDpkgQuery fake(sandbox, records, c.mode, c.ending);
        } else {
            sandbox.writeFile(DPKG_QUERY_PATH, "");
            ASSERT_EQ(unlink(query.c_str()) == 0 && mknod(query.c_str(), S_IFCHR, makedev(0, 0)) == 0, true);
            EXPECT_EQ(runInSandbox(sandbox, [] { std::printf("%d", access(DPKG_QUERY_PATH, F_OK)); }).out, "-1");
        }
        Outcome r = run({});
        auto rows = componentRows(db);
        EXPECT_EQ(r.status, c.error.empty() ? 0 : 1);
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(rows.size(), c.error.empty() ? 34u : 2u);
        EXPECT_EQ(rows["bind"], c.error.empty() ? c.bind : "old");
        EXPECT_EQ(rows["samba"], c.error.empty() ? c.samba : "old");
    }
}

TEST_F(UpdateFaults, UndecodableVersionsAreStoredWithQuestionMarks) {
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
