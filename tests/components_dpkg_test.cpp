#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "components/deb_multi_packages.h"
#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "harness/fake_dpkg_query.h"
#include "harness/sandbox.h"
#include "util/child_process.h"
#include "util/exceptions.h"

using vonta::DebVersionGetter;
using vonta::DpkgRecords;
using vonta::MassPackage;
using vonta::parseDpkgOutput;
using Deb = MassPackage<DebVersionGetter>;

namespace {

// "version" when installed, "-" when not.
std::string answer(vonta::Package& p) { return p.isInstalled() ? p.getVersion() : "-"; }

void print(const std::string& text) { std::printf("%s\n", text.c_str()); }

// --- Parsing ------------------------------------------------------------

TEST(ParseDpkgOutput, TakesThreeLinesPerRecordAndTheLastStatusWord) {
    DpkgRecords r = parseDpkgOutput("bash\ninstall ok installed\n5.2-1\n"
                                    "old\ndeinstall ok config-files\n1:2.0-3\n"
                                    "odd\nunpacked\n0.1\n");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r["bash"], std::make_pair(std::string("installed"), std::string("5.2-1")));
    EXPECT_EQ(r["old"], std::make_pair(std::string("config-files"), std::string("1:2.0-3")));
    EXPECT_EQ(r["odd"].first, "unpacked");  // no space: the whole line
}

TEST(ParseDpkgOutput, MissingTrailingLinesAreEmpty) {
    DpkgRecords cut = parseDpkgOutput("a\ninstall ok installed\n1.0\nb\ninstall ok installed");
    EXPECT_EQ(cut["a"].second, "1.0");
    EXPECT_EQ(cut["b"], std::make_pair(std::string("installed"), std::string()));

    DpkgRecords nameOnly = parseDpkgOutput("lonely");
    ASSERT_EQ(nameOnly.size(), 1u);
    EXPECT_EQ(nameOnly["lonely"], std::make_pair(std::string(), std::string()));

    EXPECT_TRUE(parseDpkgOutput("").empty());
}

TEST(ParseDpkgOutput, LaterRecordReplacesEarlierUnlessThatHidesAnInstalledOneAndLinesKeepBlanks) {
    DpkgRecords r = parseDpkgOutput("p\ninstall ok half-installed\n1.0\np\ninstall ok installed\n2.0 \n"
                                    "p\ninstall ok installed\n3.0\n"
                                    "multi\ninstall ok installed\n1:2.0\nmulti\ndeinstall ok config-files\n1:1.0\n"
                                    "multi\ninstall ok installed\n\n");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r["p"], std::make_pair(std::string("installed"), std::string("3.0")));
    // One record per architecture: a copy left as config-files (or one
    // without a version) does not hide the installed one.
    EXPECT_EQ(r["multi"], std::make_pair(std::string("installed"), std::string("1:2.0")));
    EXPECT_EQ(parseDpkgOutput("b\ninstall ok unpacked\n2.0 \n")["b"].second, "2.0 ");
    // A status line ending in a space has an empty status word.
    EXPECT_EQ(parseDpkgOutput("q\ninstall ok \n1\n")["q"].first, "");
}

// --- The installed rule ---------------------------------------------------

TEST(DebVersionGetter, OnlyInstalledStatusWithAVersionCountsAsInstalled) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, installedRecord("good", "1:2.3-4+b1") + dpkgRecord("cfg", "deinstall ok config-files", "1.0") +
                                    dpkgRecord("half", "install ok half-installed", "1.0") +
                                    dpkgRecord("unp", "install ok unpacked", "1.0") + installedRecord("empty", "") +
                                    installedRecord("Case", "9") + installedRecord("unasked", "7") +
                                    installedRecord("cut", "1.0").substr(0, 10));
    Outcome r = runInSandbox(sandbox, [] {
        std::vector<std::unique_ptr<Deb>> all;
        for (const char* name : {"good", "cfg", "half", "unp", "empty", "case", "missing", "cut"})
            all.push_back(std::make_unique<Deb>(name));
        for (auto& p : all) print(p->getName() + "=" + answer(*p));
    });
    EXPECT_EQ(r.out,
              "good=1:2.3-4+b1\ncfg=-\nhalf=-\nunp=-\nempty=-\ncase=-\nmissing=-\ncut=-\n");
    EXPECT_EQ(fake.runs().size(), 1u);
}

TEST(DebVersionGetter, UnexecutableQueryThrowsAndAMissingOneMeansNotInstalled) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, installedRecord("bash", "5"), 0644);
    Outcome r = runInSandbox(sandbox, [] {
        Deb bash("bash");
        try {
            print(answer(bash));
        } catch (const zev::ExError& e) {
            std::printf("%s", e.what());
        }
        unlink("/usr/bin/dpkg-query");
        print(answer(bash));
    });
    EXPECT_EQ(r.out, "Unable to query the package database: /usr/bin/dpkg-query could not be executed: " +
                         std::string(std::strerror(EACCES)) + "\n-\n");
    EXPECT_TRUE(fake.runs().empty());
}

// --- Batching -------------------------------------------------------------

TEST(MassPackage, OneRunAnswersEveryComponentBuiltBeforeTheFirstQuestion) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    std::vector<std::string> names;
    std::string records;
    for (int i = 0; i < 33; ++i) {
        names.push_back("pkg-" + std::to_string(i));
        records += installedRecord(names.back(), "1." + std::to_string(i));
    }
    records += installedRecord("libstdc++2.9-glibc2.1", "2.95");
    FakeDpkgQuery fake(sandbox, records);
    Outcome r = runInSandbox(sandbox, [&] {
        std::vector<std::unique_ptr<vonta::Package>> all;
        for (const auto& name : names) all.push_back(std::make_unique<Deb>(name));
        all.push_back(std::make_unique<vonta::DebianColdfusionSupport>());
        std::string answers;
        // Asking one from the middle fills them all.
        answers += answer(*all[5]) + " ";
        for (auto& p : all) answers += answer(*p) + " ";
        print(answers + std::to_string(fake.runs().size()));

        Deb late("pkg-3");
        print(answer(late) + " " + answer(*all[0]));
    });
    std::string expected = "1.5 ";
    for (int i = 0; i < 33; ++i) expected += "1." + std::to_string(i) + " ";
    EXPECT_EQ(r.out, expected + "2.95 1\n1.3 1.0\n");

    auto runs = fake.runs();
    ASSERT_EQ(runs.size(), 2u);
    ASSERT_EQ(runs[0].size(), 36u);
    EXPECT_EQ(runs[0][0], "--show");
    EXPECT_EQ(runs[0][1], "--showformat=${Package}\n${Status}\n${Version}\n");
    names.push_back("libstdc++2.9-glibc2.1");
    EXPECT_EQ(joinNames(fake.askedNames()[0]), joinNames(names));
    EXPECT_EQ(joinNames(fake.askedNames()[1]), "pkg-3");
}

TEST(MassPackage, DuplicateAndOddNamesAreAskedAsGiven) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, installedRecord("a b,c", "1") + installedRecord("dup", "2"));
    Outcome r = runInSandbox(sandbox, [] {
        Deb odd("a b,c"), first("dup"), second("dup");
        print(answer(second) + " " + answer(first) + " " + answer(odd));
    });
    EXPECT_EQ(r.out, "2 2 1\n");
    ASSERT_EQ(fake.askedNames().size(), 1u);
    EXPECT_EQ(fake.askedNames()[0], (std::vector<std::string>{"a b,c", "dup", "dup"}));
}

TEST(MassPackage, DestroyedComponentLeavesTheBatchAndAnEmptyBatchRunsNothing) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, installedRecord("kept", "1"));
    Outcome r = runInSandbox(sandbox, [] {
        auto gone = std::make_unique<Deb>("gone");
        Deb kept("kept");
        gone.reset();
        print(answer(kept));
        // Nobody is listed any more: dpkg-query would list every package.
        Deb::getter.getVersions();
    });
    EXPECT_EQ(r.out, "1\n");
    ASSERT_EQ(fake.askedNames().size(), 1u);
    EXPECT_EQ(joinNames(fake.askedNames()[0]), "kept");
}

TEST(MassPackage, FailedRunLeavesComponentsUnfilledAndStillListed) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, installedRecord("alpha", "1") + installedRecord("beta", "2"));
    Outcome r = runInSandbox(sandbox, [] {
        Deb alpha("alpha"), beta("beta");
        const passwd* nobody = getpwnam("nobody");
        struct rlimit saved;
        // Only the soft limit drops, and the saved user id stays 0, so both
        // can be taken back without further privileges.
        if (nobody == nullptr || getrlimit(RLIMIT_NPROC, &saved) != 0) {
            print("setup failed");
            return;
        }
        struct rlimit none = {0, saved.rlim_max};
        if (setrlimit(RLIMIT_NPROC, &none) != 0 || setresuid(nobody->pw_uid, nobody->pw_uid, 0) != 0) {
            print("setup failed");
            return;
        }
        try {
            alpha.isInstalled();
            print("no exception");
        } catch (const zev::ExSystemErrorBase& e) {
            print(e.what());
        }
        if (setresuid(0, 0, 0) != 0 || setrlimit(RLIMIT_NPROC, &saved) != 0) {
            print("restore failed");
            return;
        }
        print(std::to_string(Deb::getter.getVersionables().size()));
        print(answer(beta) + " " + answer(alpha));
    });
    EXPECT_EQ(r.out, std::string("forkExecvPipes: fork() failed: ") + std::strerror(EAGAIN) + "\n2\n2 1\n");
    ASSERT_EQ(fake.askedNames().size(), 1u);
    EXPECT_EQ(joinNames(fake.askedNames()[0]), "alpha,beta");
}

// --- The real package database ---------------------------------------------

std::string realVersion(const std::string& package) {
    std::string out;
    std::string a0 = "dpkg-query", a1 = "-W", a2 = "-f=${Version}", a3 = package;
    std::vector<char*> argv = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    forkExecvGetOutErr(out, "/usr/bin/dpkg-query", argv);
    return out;
}

TEST(MassPackage, ReportsWhatTheRealPackageDatabaseHolds) {
    const std::string bashVersion = realVersion("bash");
    const std::string coreutilsVersion = realVersion("coreutils");
    ASSERT_FALSE(bashVersion.empty());
    ASSERT_FALSE(coreutilsVersion.empty());
    Outcome r = captureInChild([] {
        Deb bash("bash"), absent("verstally-no-such-package"), coreutils("coreutils");
        print(answer(bash) + "|" + answer(coreutils) + "|" + answer(absent));
    });
    EXPECT_EQ(r.out, bashVersion + "|" + coreutilsVersion + "|-\n");
}

}  // namespace
