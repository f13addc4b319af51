#include <gtest/gtest.h>
#include <set>

#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "components/registry.h"
#include "harness/components_table.h"

namespace {

using vonta::DebVersionGetter;
using vonta::MassPackage;

TEST(Registry, HoldsTheThirtyFourComponentsInByteOrder) {
    vonta::registerPackages();
    vonta::registerPackages();  // registering again keeps one entry per name
    std::vector<std::string> names;
    for (const auto& entry : vonta::packageCreators) names.push_back(entry.first);
    std::vector<std::string> expected;
    for (const auto& c : registeredComponents()) expected.push_back(c.name);
    EXPECT_EQ(names, expected);
}

TEST(Registry, SinglePackageComponentsAskTheirDebianPackage) {
    vonta::registerPackages();
    for (const auto& c : registeredComponents()) {
        std::unique_ptr<vonta::Package> package(vonta::createPackage(c.name));
        auto* mass = dynamic_cast<MassPackage<DebVersionGetter>*>(package.get());
        if (*c.debianPackage) {
            ASSERT_NE(mass, nullptr) << c.name;
            EXPECT_EQ(mass->getName(), c.debianPackage);
        } else {
            EXPECT_EQ(mass, nullptr) << c.name;
        }
    }
    EXPECT_TRUE(MassPackage<DebVersionGetter>::getter.getVersionables().empty());
}

TEST(Registry, EveryCreationMakesNewObjects) {
    vonta::registerPackages();
    auto first = vonta::createAllPackages();
    auto second = vonta::createAllPackages();
    ASSERT_EQ(first.size(), 34u);
    std::set<vonta::Package*> distinct;
    for (auto& entry : first) distinct.insert(entry.second);
    for (auto& entry : second) distinct.insert(entry.second);
    EXPECT_EQ(distinct.size(), 68u);
    // Each single-package component joined the shared batch once, in order.
    const auto& listed = MassPackage<DebVersionGetter>::getter.getVersionables();
    EXPECT_EQ(listed.size(), 2u * 29u);
    EXPECT_EQ(listed.front()->getName(), "sshterm");
    EXPECT_EQ(listed[28]->getName(), "zev-turba");
    for (auto* map : {&first, &second})
        for (auto& entry : *map) delete entry.second;
    EXPECT_TRUE(listed.empty());
}

TEST(Registry, UnknownNamesThrow) {
    vonta::registerPackages();
    for (const char* name : {"tomcat4", "Bind", "", "bind "}) {
        EXPECT_THROW(vonta::createPackage(name), vonta::NoSuchPackageException) << name;
    }
}

}  // namespace
