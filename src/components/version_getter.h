#ifndef VERSTALLY_COMPONENTS_VERSION_GETTER_H
#define VERSTALLY_COMPONENTS_VERSION_GETTER_H

#include <vector>

#include "components/versionable.h"

namespace vonta {

/// A version source: collects Versionable objects and fills them all in one
/// run. It does not own them; each must stay alive until the run that
/// answers it, or be removed first.
class VersionGetter {
public:
    virtual ~VersionGetter();

    /// Appends `v` to the list of the next run (twice when given twice).
    void addVersionable(Versionable* v);
    /// Takes every entry of `v` off the list; the next run will not reach it.
    void removeVersionable(const Versionable* v) noexcept;
    /// The objects the next run will answer, in registration order.
    const std::vector<Versionable*>& getVersionables() const { return versionables; }

    /// Gives every listed object, in list order, exactly one setVersion or
    /// setNotInstalled call, then empties the list. On an exception the list
    /// is left as it was.
    virtual void getVersions() = 0;

protected:
    std::vector<Versionable*> versionables;
};

}  // namespace vonta

#endif
