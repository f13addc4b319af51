#include "components/versionable.h"

namespace vonta {

Versionable::~Versionable() = default;

PackageVersionHolder::PackageVersionHolder(const std::string& packageName) : name(packageName) {}

PackageVersionHolder::~PackageVersionHolder() = default;

const std::string& PackageVersionHolder::getName() const { return name; }

void PackageVersionHolder::setNotInstalled() { installed = false; }

void PackageVersionHolder::setVersion(const std::string& found) {
    installed = true;
    version = found;
}

}  // namespace vonta
