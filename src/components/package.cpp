#include "components/package.h"

namespace vonta {

Package::~Package() = default;

PackageImpl::~PackageImpl() = default;

void PackageImpl::fillOnce() {
    if (!needsUpdate) return;
    // Cleared only after a complete fetch, so a failed one is retried.
    fetchVersion();
    needsUpdate = false;
}

bool PackageImpl::isInstalled() {
    fillOnce();
    return installed;
}

std::string PackageImpl::getVersion() {
    fillOnce();
    return version;
}

}  // namespace vonta
