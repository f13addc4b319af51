#ifndef VERSTALLY_COMPONENTS_MASS_PACKAGE_H
#define VERSTALLY_COMPONENTS_MASS_PACKAGE_H

#include <string>

#include "components/package.h"
#include "components/versionable.h"

namespace vonta {

/// A component whose state is that of one system package, answered together
/// with every other MassPackage<G> by one run of the shared getter.
/// Building one costs a pointer appended to the getter's list; the first
/// question to any unfilled one runs the getter for all registered so far.
template <class G>
class MassPackage : public PackageImpl, public Versionable {
public:
    /// `packageName` is the system package, kept exactly as given.
    explicit MassPackage(const std::string& packageName) : name(packageName) { getter.addVersionable(this); }
    /// An object destroyed before its run leaves the getter's list, so no
    /// run ever reaches a destroyed component.
    ~MassPackage() override { getter.removeVersionable(this); }

    // A copy would not be registered and could never be filled.
    MassPackage(const MassPackage&) = delete;
    MassPackage& operator=(const MassPackage&) = delete;

    const std::string& getName() const override { return name; }
    void setVersion(const std::string& v) override {
        needsUpdate = false;
        installed = true;
        version = v;
    }
    void setNotInstalled() override {
        needsUpdate = false;
        installed = false;
    }

    /// The version source shared by every MassPackage<G>.
    static G getter;

protected:
    void fetchVersion() override { getter.getVersions(); }

private:
    const std::string name;
};

template <class G>
G MassPackage<G>::getter;

}  // namespace vonta

#endif
