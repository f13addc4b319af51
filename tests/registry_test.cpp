#include <cstdio>
#include <gtest/gtest.h>
#include <set>

#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "components/registry.h"
#include "harness/capture.h"
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

// Components live as long as the process that made them: they are made in
// a child, so that this process's shared batch stays empty.
TEST(Registry, SinglePackageComponentsAskTheirDebianPackage) {
    Outcome r = captureInChild([] {
        vonta::registerPackages();
        for (const auto& c : registeredComponents()) {
            auto* mass = dynamic_cast<MassPackage<DebVersionGetter>*>(vonta::createPackage(c.name));
            std::printf("%s=%s\n", c.name, mass != nullptr ? mass->getName().c_str() : "");
        }
    });
    std::string expected;
    for (const auto& c : registeredComponents()) expected += std::string(c.name) + "=" + c.debianPackage + "\n";
    EXPECT_EQ(r.out, expected);
}

TEST(Registry, EveryCreationMakesNewObjects) {
    Outcome r = captureInChild([] {
        vonta::registerPackages();
        auto first = vonta::createAllPackages();
        auto second = vonta::createAllPackages();
        std::set<vonta::Package*> distinct;
        for (auto* map : {&first, &second})
            for (auto& entry : *map) distinct.insert(entry.second);
        std::printf("%zu %zu %zu", first.size(), second.size(), distinct.size());
    });
    EXPECT_EQ(r.out, "34 34 68");
}

TEST(Registry, UnknownNamesThrow) {
    vonta::registerPackages();
    for (const char* name : {"tomcat4", "Bind", "", "bind "}) {
        EXPECT_THROW(vonta::createPackage(name), vonta::NoSuchPackageException) << name;
    }
}

}  // namespace
