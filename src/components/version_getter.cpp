#include "components/version_getter.h"

#include <algorithm>

namespace vonta {

VersionGetter::~VersionGetter() = default;

void VersionGetter::addVersionable(Versionable* v) { versionables.push_back(v); }

void VersionGetter::removeVersionable(const Versionable* v) noexcept {
    versionables.erase(std::remove(versionables.begin(), versionables.end(), v), versionables.end());
}

}  // namespace vonta
