#ifndef VERSTALLY_COMPONENTS_REGISTRY_H
#define VERSTALLY_COMPONENTS_REGISTRY_H

#include <map>
#include <string>

#include "components/package.h"
#include "components/pkg_creator.h"

namespace vonta {

/// Component name (as stored in the Components table) to its factory, in
/// byte order of the names. Empty until registerPackages. The registry owns
/// the factories; map and factories live until the process ends.
extern std::map<std::string, PkgCreator*>& packageCreators;

/// Registers the 34 components the tool knows. A name registered again gets
/// a new factory (the old one is destroyed), so no name is ever held twice.
void registerPackages();

/// One new component per registered name, in registry order. The registry
/// owns them and keeps them until the process ends: callers never delete
/// them.
std::map<std::string, Package*> createAllPackages();

/// A new component for `name` (exact, case-sensitive), owned by the
/// registry as above; throws NoSuchPackageException when it is not
/// registered.
Package* createPackage(const std::string& name);

}  // namespace vonta

#endif
