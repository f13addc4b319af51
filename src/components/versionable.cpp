#include "components/versionable.h"

namespace vonta {

Versionable::~Versionable() = default;

PackageVersionHolder::PackageVersionHolder(const std::string& name) : name(name) {}

PackageVersionHolder::~PackageVersionHolder() = default;

const std::string& PackageVersionHolder::getName() const { return name; }

void PackageVersionHolder::setNotInstalled() { installed = false; }

void PackageVersionHolder::setVersion(const std::string& version) {
    installed = true;
    this->version = version;
}

}  // namespace vonta
