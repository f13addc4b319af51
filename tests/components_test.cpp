#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>
#include <set>
#include <stdexcept>
#include <sys/resource.h>
#include <type_traits>

#include "components/deb_multi_packages.h"
#include "components/registry.h"
#include "harness/components_table.h"
#include "harness/fake_dpkg_query.h"
#include "util/child_process.h"
#include "util/exceptions.h"

using vonta::DebVersionGetter;
using vonta::Package;
using Deb = vonta::MassPackage<DebVersionGetter>;

namespace {

static_assert(!std::is_copy_constructible_v<DebVersionGetter> && !std::is_copy_assignable_v<DebVersionGetter>);

// "version" when installed, "-" when not.
std::string answer(Package& p) { return p.isInstalled() ? p.getVersion() : "-"; }

void print(const std::string& text) { std::printf("%s\n", text.c_str()); }

// The names of every dpkg-query run so far, as "[a,b][c]".
std::string askedText(const FakeDpkgQuery& fake) {
    std::string asked;
    for (const auto& run : fake.askedNames()) asked += "[" + joinNames(run) + "]";
    return asked;
}

TEST(ParseDpkgOutput, ThreeLinesPerRecordTheLastStatusWordAndInstalledCopiesWin) {
    const std::pair<std::string, std::string> cases[] = {
        {"bash\ninstall ok installed\n5.2-1\nold\ndeinstall ok config-files\n1:2.0-3\nodd\nunpacked\n0.1\n",
         "bash|installed|5.2-1\nodd|unpacked|0.1\nold|config-files|1:2.0-3\n"},
        // Missing trailing lines are empty.
        {"a\ninstall ok installed\n1.0\nb\ninstall ok installed", "a|installed|1.0\nb|installed|\n"},
        {"lonely", "lonely||\n"},
        {"", ""},
        // A later record replaces an earlier one...
        {"p\ninstall ok half-installed\n1.0\np\ninstall ok installed\n2.0 \np\ninstall ok installed\n3.0\n",
         "p|installed|3.0\n"},
        // ...unless it would hide an installed one (one record per
        // architecture: a copy left as config-files or without a version).
        {"m\ninstall ok installed\n1:2.0\nm\ndeinstall ok config-files\n1:1.0\nm\ninstall ok installed\n\n",
         "m|installed|1:2.0\n"},
        // Lines keep their blanks; a status line ending in a space has an
        // empty status word.
        {"b\ninstall ok unpacked\n2.0 \n", "b|unpacked|2.0 \n"},
        {"q\ninstall ok \n1\n", "q||1\n"},
    };
    for (const auto& [output, expected] : cases) {
        std::string shown;
        for (const auto& [name, state] : vonta::parseDpkgOutput(output))
            shown += name + "|" + state.first + "|" + state.second + "\n";
        EXPECT_EQ(shown, expected) << output;
    }
}

// A sandbox for a stand-in dpkg-query; every case runs inside it, in a
// child, so each starts with the shared batches empty.
class Components : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_ROOT(); }
    Sandbox sandbox;
};

TEST_F(Components, OnlyInstalledStatusWithAVersionCountsAsInstalled) {
    FakeDpkgQuery fake(sandbox, installedRecord("good", "1:2.3-4+b1") +
                                    dpkgRecord("cfg", "deinstall ok config-files", "1.0") +
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
    EXPECT_EQ(r.out, "good=1:2.3-4+b1\ncfg=-\nhalf=-\nunp=-\nempty=-\ncase=-\nmissing=-\ncut=-\n");
    EXPECT_EQ(fake.runs().size(), 1u);
}

TEST_F(Components, OneRunAnswersEveryComponentBuiltBeforeTheFirstQuestion) {
    std::vector<std::string> names;
    std::string records;
    for (int i = 0; i < 33; ++i) {
        names.push_back("pkg-" + std::to_string(i));
        records += installedRecord(names.back(), "1." + std::to_string(i));
    }
    FakeDpkgQuery fake(sandbox, records + installedRecord("libstdc++2.9-glibc2.1", "2.95"));
    Outcome r = runInSandbox(sandbox, [&] {
        std::vector<std::unique_ptr<Package>> all;
        for (const auto& name : names) all.push_back(std::make_unique<Deb>(name));
        all.push_back(std::make_unique<vonta::DebianColdfusionSupport>());
        // Asking one from the middle fills them all; filled ones never ask
        // again, a later one asks for itself alone.
        std::string answers = answer(*all[5]) + " ";
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
    EXPECT_EQ(askedText(fake), "[" + joinNames(names) + "][pkg-3]");
}

TEST_F(Components, NamesAreAskedAsGivenAndADestroyedComponentNotAtAll) {
    FakeDpkgQuery fake(sandbox, installedRecord("a b,c", "1") + installedRecord("dup", "2"));
    Outcome r = runInSandbox(sandbox, [] {
        auto gone = std::make_unique<Deb>("gone");
        Deb odd("a b,c"), first("dup"), second("dup");
        gone.reset();
        print(answer(second) + " " + answer(first) + " " + answer(odd));
        // Nobody is listed any more: dpkg-query would list every package.
        Deb::getter.getVersions();
    });
    EXPECT_EQ(r.out, "2 2 1\n");
    ASSERT_EQ(fake.askedNames().size(), 1u);
    EXPECT_EQ(fake.askedNames()[0], (std::vector<std::string>{"a b,c", "dup", "dup"}));
}

TEST_F(Components, FailedRunLeavesComponentsUnfilledAndStillListed) {
    FakeDpkgQuery fake(sandbox, installedRecord("alpha", "1") + installedRecord("beta", "2"));
    Outcome r = runInSandbox(sandbox, [] {
        Deb alpha("alpha"), beta("beta");
        const passwd* nobody = getpwnam("nobody");
        struct rlimit saved;
        // Only the soft limit drops, and the saved user id stays 0, so both
        // can be taken back without further privileges.
        if (nobody == nullptr || getrlimit(RLIMIT_NPROC, &saved) != 0) return print("setup failed");
        struct rlimit none = {0, saved.rlim_max};
        if (setrlimit(RLIMIT_NPROC, &none) != 0 || setresuid(nobody->pw_uid, nobody->pw_uid, 0) != 0)
            return print("setup failed");
        try {
            alpha.isInstalled();
            print("no exception");
        } catch (const zev::ExSystemErrorBase& e) {
            print(e.what());
        }
        if (setresuid(0, 0, 0) != 0 || setrlimit(RLIMIT_NPROC, &saved) != 0) return print("restore failed");
        print(answer(beta) + " " + answer(alpha));
    });
    EXPECT_EQ(r.out, std::string("forkExecvPipes: fork() failed: ") + std::strerror(EAGAIN) + "\n2 1\n");
    EXPECT_EQ(askedText(fake), "[alpha,beta]");
}

// The Answer of a fresh `T` against the given records.
// What a component answered, and the names dpkg-query was asked.
using Answer = std::pair<std::string, std::string>;

template <class T>
Answer ask(const std::string& records) {
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, records);
    Outcome r = runInSandbox(sandbox, [] {
        T component;
        std::printf("%s", answer(component).c_str());
        // Filled once: no further query.
        component.getVersion();
        component.isInstalled();
    });
    return {r.out, askedText(fake)};
}

template <class T>
void checkAlternatives(const std::string& first, const std::string& second) {
    const std::string both = "[" + first + "," + second + "]";
    EXPECT_EQ(ask<T>(installedRecord(first, "1.0") + installedRecord(second, "2.0")), Answer("1.0", both));
    // The first alternative in a state other than installed does not count.
    EXPECT_EQ(ask<T>(dpkgRecord(first, "deinstall ok config-files", "1.0") + installedRecord(second, "2.0")),
              Answer("2.0", both));
    EXPECT_EQ(ask<T>(installedRecord("unrelated", "3.0")), Answer("-", both));
}

TEST_F(Components, MysqlAndPhpTakeTheFirstInstalledAlternative) {
    checkAlternatives<vonta::DebMultiMysqlPackage>("mysql-server", "mysql-server-4.1");
    checkAlternatives<vonta::DebMultiPhpPackage>("libapache2-mod-php4", "libapache2-mod-php5");
}

TEST_F(Components, DrwebNeedsAllThreeAndReportsTheDaemon) {
    const std::string asked = "[drweb-base,drweb-updater,drweb-daemon]";
    const std::string base = installedRecord("drweb-base", "1"), updater = installedRecord("drweb-updater", "2");
    using Drweb = vonta::DebMultiDrwebPackage;
    EXPECT_EQ(ask<Drweb>(base + updater + installedRecord("drweb-daemon", "3")), Answer("3", asked));
    EXPECT_EQ(ask<Drweb>(base + installedRecord("drweb-daemon", "3")), Answer("-", asked));
    EXPECT_EQ(ask<Drweb>(base + updater + installedRecord("drweb-daemon", "")), Answer("-", asked));
}

TEST_F(Components, OwnQueriesStayApartFromTheSharedBatch) {
    FakeDpkgQuery fake(sandbox, installedRecord("mysql-server", "5") + installedRecord("bash", "4") +
                                    installedRecord("libstdc++2.9-glibc2.1", "2.95"));
    Outcome r = runInSandbox(sandbox, [] {
        Deb bash("bash");
        vonta::DebianColdfusionSupport support;
        vonta::DebMultiMysqlPackage mysql;
        vonta::DebMultiPhpPackage php;
        // In this order: each question decides which batch runs next.
        for (Package* p : std::initializer_list<Package*>{&mysql, &bash, &php, &support})
            std::printf("%s ", answer(*p).c_str());
    });
    EXPECT_EQ(r.out, "5 4 - 2.95 ");
    EXPECT_EQ(askedText(fake),
              "[mysql-server,mysql-server-4.1][bash,libstdc++2.9-glibc2.1][libapache2-mod-php4,libapache2-mod-php5]");
}

std::string realVersion(const std::string& package) {
    std::string out;
    std::string a0 = "dpkg-query", a1 = "-W", a2 = "-f=${Version}", a3 = package;
    std::vector<char*> argv = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    forkExecvGetOutErr(out, "/usr/bin/dpkg-query", argv);
    return out;
}

TEST(MassPackage, ReportsWhatTheRealPackageDatabaseHolds) {
    const std::string bashVersion = realVersion("bash"), coreutilsVersion = realVersion("coreutils");
    ASSERT_FALSE(bashVersion.empty());
    ASSERT_FALSE(coreutilsVersion.empty());
    Outcome r = captureInChild([] {
        Deb bash("bash"), absent("verstally-no-such-package"), coreutils("coreutils");
        print(answer(bash) + "|" + answer(coreutils) + "|" + answer(absent));
    });
    EXPECT_EQ(r.out, bashVersion + "|" + coreutilsVersion + "|-\n");
}

// Counts its fetches; the first `failures` of them throw.
class CountingPackage : public vonta::PackageImpl {
public:
    int fetches = 0;
    int failures = 0;

protected:
    void fetchVersion() override {
        ++fetches;
        if (failures-- > 0) throw std::runtime_error("no answer");
        installed = true;
        version = "1.0";
    }
};

TEST(PackageImpl, FetchesOnceWhicheverQuestionComesFirstAndAgainAfterAFailure) {
    CountingPackage a, b, failing;
    EXPECT_TRUE(a.isInstalled());
    EXPECT_TRUE(a.isInstalled());
    EXPECT_EQ(a.getVersion(), "1.0");
    EXPECT_EQ(b.getVersion(), "1.0");
    EXPECT_TRUE(b.isInstalled());
    EXPECT_EQ(a.fetches + b.fetches, 2);

    failing.failures = 1;
    EXPECT_THROW(failing.isInstalled(), std::runtime_error);
    EXPECT_EQ(failing.getVersion(), "1.0");
    EXPECT_EQ(failing.fetches, 2);
}

// Every name is made by createPackage and twice by createAllPackages, in a
// child: the registry keeps what it makes until the process ends.
TEST(Registry, MakesANewComponentOfEachOfTheThirtyFourNamesAtEveryCall) {
    Outcome r = captureInChild([] {
        vonta::registerPackages();
        vonta::registerPackages();  // registering again replaces the factories
        std::set<Package*> distinct;
        for (const auto& c : registeredComponents()) {
            Package* made = vonta::createPackage(c.name);
            distinct.insert(made);
            auto* mass = dynamic_cast<Deb*>(made);
            std::printf("%s=%s\n", c.name, mass != nullptr ? mass->getName().c_str() : "");
        }
        for (int round = 0; round < 2; ++round)
            for (const auto& [name, component] : vonta::createAllPackages()) {
                distinct.insert(component);
                std::printf("%s,", name.c_str());
            }
        std::printf("\n%zu", distinct.size());
    });
    std::string expected, names;
    for (const auto& c : registeredComponents()) {
        expected += std::string(c.name) + "=" + c.debianPackage + "\n";
        names += std::string(c.name) + ",";
    }
    EXPECT_EQ(r.out, expected + names + names + "\n102");
}

TEST(Registry, UnknownNamesThrow) {
    vonta::registerPackages();
    for (const char* name : {"tomcat4", "Bind", "", "bind "})
        EXPECT_THROW(vonta::createPackage(name), vonta::NoSuchPackageException) << name;
}

}  // namespace
