#ifndef VERSTALLY_COMPONENTS_REGISTRY_H
#define VERSTALLY_COMPONENTS_REGISTRY_H

#include <map>
#include <string>

#include "components/package.h"
#include "components/pkg_creator.h"

namespace vonta {

/// Component name (as stored in the Components table) to its factory, in
/// byte order of the names. Empty until registerPackages.
extern std::map<std::string, PkgCreator*> packageCreators;

/// Registers the 34 components the tool knows. A name registered again gets
/// the new factory, so no name is ever held twice.
void registerPackages();

/// One new component per registered name, in registry order; the caller
/// owns them. Whatever the caller does not delete stays reachable until the
/// process ends (as every factory does), so nothing counts as leaked.
std::map<std::string, Package*> createAllPackages();

/// A new component for `name` (exact, case-sensitive); throws
/// NoSuchPackageException when it is not registered.
Package* createPackage(const std::string& name);

}  // namespace vonta

#endif
