#ifndef VERSTALLY_COMPONENTS_PACKAGE_H
#define VERSTALLY_COMPONENTS_PACKAGE_H

#include <string>

namespace vonta {

/// A component whose installed state and version the tool reports.
class Package {
public:
    virtual ~Package();
    /// Whether the component is installed.
    virtual bool isInstalled() = 0;
    /// The installed version; empty when the component is not installed.
    virtual std::string getVersion() = 0;
};

/// A component that determines its state once, at the first question.
class PackageImpl : public Package {
public:
    ~PackageImpl() override;
    /// Runs fetchVersion on the first call (again after one that threw).
    bool isInstalled() override;
    /// Runs fetchVersion on the first call (again after one that threw).
    std::string getVersion() override;

protected:
    /// Leaves `installed` and `version` describing the component. Called at
    /// most once per object by a question that completes; an exception
    /// passes to the asker and leaves the object unfilled.
    virtual void fetchVersion() = 0;

    /// True until the component's state has been determined once.
    bool needsUpdate = true;
    bool installed = false;
    /// Meaningful only when `installed` is true.
    std::string version;

private:
    void fillOnce();
};

}  // namespace vonta

#endif
