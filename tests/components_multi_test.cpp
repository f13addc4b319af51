#include <cstdio>
#include <gtest/gtest.h>

#include "components/deb_multi_packages.h"
#include "harness/fake_dpkg_query.h"
#include "harness/sandbox.h"

using vonta::Package;

namespace {

// "version" when installed, "-" when not.
std::string answer(Package& p) { return p.isInstalled() ? p.getVersion() : "-"; }

// Answers of a fresh `T` against the given records, and the names asked.
template <class T>
std::pair<std::string, std::string> ask(const std::string& records) {
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, records);
    Outcome r = runInSandbox(sandbox, [] {
        T component;
        std::printf("%s", answer(component).c_str());
        // Filled once: no further query.
        component.getVersion();
        component.isInstalled();
    });
    std::string asked;
    for (const auto& run : fake.askedNames()) asked += "[" + joinNames(run) + "]";
    return {r.out, asked};
}

struct AlternativeCase {
    std::string first;
    std::string second;
};

template <class T>
void checkAlternatives(const AlternativeCase& c) {
    const std::string both = "[" + c.first + "," + c.second + "]";
    EXPECT_EQ(ask<T>(installedRecord(c.first, "1.0") + installedRecord(c.second, "2.0")),
              std::make_pair(std::string("1.0"), both));
    // The first alternative in a state other than installed does not count.
    EXPECT_EQ(ask<T>(dpkgRecord(c.first, "deinstall ok config-files", "1.0") + installedRecord(c.second, "2.0")),
              std::make_pair(std::string("2.0"), both));
    EXPECT_EQ(ask<T>(installedRecord("unrelated", "3.0")), std::make_pair(std::string("-"), both));
}

TEST(DebMultiPackages, MysqlAndPhpTakeTheFirstInstalledAlternative) {
    SKIP_UNLESS_ROOT();
    checkAlternatives<vonta::DebMultiMysqlPackage>({"mysql-server", "mysql-server-4.1"});
    checkAlternatives<vonta::DebMultiPhpPackage>({"libapache2-mod-php4", "libapache2-mod-php5"});
}

TEST(DebMultiPackages, DrwebNeedsAllThreeAndReportsTheDaemon) {
    SKIP_UNLESS_ROOT();
    const std::string asked = "[drweb-base,drweb-updater,drweb-daemon]";
    EXPECT_EQ(ask<vonta::DebMultiDrwebPackage>(installedRecord("drweb-base", "1") + installedRecord("drweb-updater", "2") +
                                               installedRecord("drweb-daemon", "3")),
              std::make_pair(std::string("3"), asked));
    EXPECT_EQ(ask<vonta::DebMultiDrwebPackage>(installedRecord("drweb-base", "1") + installedRecord("drweb-daemon", "3")),
              std::make_pair(std::string("-"), asked));
    EXPECT_EQ(ask<vonta::DebMultiDrwebPackage>(installedRecord("drweb-base", "1") + installedRecord("drweb-updater", "2") +
                                               installedRecord("drweb-daemon", "")),
              std::make_pair(std::string("-"), asked));
}

TEST(DebMultiPackages, OwnQueriesStayApartFromTheSharedBatch) {
    SKIP_UNLESS_ROOT();
    Sandbox sandbox;
    FakeDpkgQuery fake(sandbox, installedRecord("mysql-server", "5") + installedRecord("bash", "4") +
                                    installedRecord("libstdc++2.9-glibc2.1", "2.95"));
    Outcome r = runInSandbox(sandbox, [] {
        vonta::MassPackage<vonta::DebVersionGetter> bash("bash");
        vonta::DebianColdfusionSupport support;
        vonta::DebMultiMysqlPackage mysql;
        vonta::DebMultiPhpPackage php;
        std::string answers = answer(mysql);
        answers += " " + answer(bash);
        answers += " " + answer(php);
        answers += " " + answer(support);
        std::printf("%s", answers.c_str());
    });
    EXPECT_EQ(r.out, "5 4 - 2.95");
    std::string asked;
    for (const auto& run : fake.askedNames()) asked += "[" + joinNames(run) + "]";
    EXPECT_EQ(asked, "[mysql-server,mysql-server-4.1][bash,libstdc++2.9-glibc2.1][libapache2-mod-php4,libapache2-mod-php5]");
}

}  // namespace
