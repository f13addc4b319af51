#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "components/deb_multi_packages.h"
#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "components/pkg_creator.h"

using vonta::Package;

namespace {

static_assert(!std::is_copy_constructible_v<vonta::DebVersionGetter>);
static_assert(!std::is_copy_assignable_v<vonta::DebVersionGetter>);

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

TEST(PackageImpl, FetchesOnceWhicheverQuestionComesFirst) {
    CountingPackage a;
    EXPECT_TRUE(a.isInstalled());
    EXPECT_TRUE(a.isInstalled());
    EXPECT_EQ(a.getVersion(), "1.0");
    EXPECT_EQ(a.fetches, 1);

    CountingPackage b;
    EXPECT_EQ(b.getVersion(), "1.0");
    EXPECT_TRUE(b.isInstalled());
    EXPECT_EQ(b.fetches, 1);
}

TEST(PackageImpl, FailedFetchLeavesTheObjectUnfilled) {
    CountingPackage p;
    p.failures = 1;
    EXPECT_THROW(p.isInstalled(), std::runtime_error);
    EXPECT_EQ(p.getVersion(), "1.0");
    EXPECT_EQ(p.fetches, 2);
}

// A version source without a child process: answers from a table and
// counts its runs.
class TableGetter : public vonta::VersionGetter {
public:
    void getVersions() override {
        ++runs;
        for (vonta::Versionable* v : versionables) {
            if (v->getName() == "there")
                v->setVersion("7");
            else
                v->setNotInstalled();
        }
        versionables.clear();
    }
    int runs = 0;
};

using TablePackage = vonta::MassPackage<TableGetter>;

TEST(MassPackage, FilledComponentsNeverAskAgain) {
    TablePackage there("there"), absent("absent");
    const int before = TablePackage::getter.runs;
    EXPECT_FALSE(absent.isInstalled());
    EXPECT_EQ(absent.getVersion(), "");
    EXPECT_EQ(there.getVersion(), "7");
    EXPECT_EQ(TablePackage::getter.runs, before + 1);

    TablePackage later("there");
    EXPECT_TRUE(later.isInstalled());
    EXPECT_EQ(TablePackage::getter.runs, before + 2);
    EXPECT_TRUE(TablePackage::getter.getVersionables().empty());
}

TEST(PkgCreator, EachCreateMakesANewObjectFromTheStoredArgument) {
    vonta::PkgCreator1<TablePackage> single("there");
    std::unique_ptr<Package> a(single.create());
    std::unique_ptr<Package> b(single.create());
    ASSERT_NE(a.get(), b.get());
    EXPECT_EQ(dynamic_cast<vonta::Versionable&>(*a).getName(), "there");
    EXPECT_EQ(b->getVersion(), "7");

    vonta::PkgCreator0<vonta::DebianColdfusionSupport> support;
    std::unique_ptr<Package> c(support.create());
    std::unique_ptr<Package> d(support.create());
    ASSERT_NE(c.get(), d.get());
    EXPECT_EQ(dynamic_cast<vonta::Versionable&>(*c).getName(), "libstdc++2.9-glibc2.1");
    EXPECT_EQ(vonta::MassPackage<vonta::DebVersionGetter>::getter.getVersionables().size(), 2u);
    c.reset();
    d.reset();
    EXPECT_TRUE(vonta::MassPackage<vonta::DebVersionGetter>::getter.getVersionables().empty());
}

}  // namespace
