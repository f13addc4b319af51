#ifndef VERSTALLY_COMPONENTS_VERSIONABLE_H
#define VERSTALLY_COMPONENTS_VERSIONABLE_H

#include <string>

namespace vonta {

/// Something a version source fills in: it names a system package and
/// receives that package's state.
class Versionable {
public:
    virtual ~Versionable();
    /// The system package to ask about.
    virtual const std::string& getName() const = 0;
    /// The package is not installed.
    virtual void setNotInstalled() = 0;
    /// The package is installed with this version text.
    virtual void setVersion(const std::string& version) = 0;
};

/// A plain record of one system package's state, read by its owner after a
/// getter run.
class PackageVersionHolder : public Versionable {
public:
    explicit PackageVersionHolder(const std::string& name);
    ~PackageVersionHolder() override;
    const std::string& getName() const override;
    void setNotInstalled() override;
    void setVersion(const std::string& version) override;

    const std::string name;
    bool installed = false;
    std::string version;
};

}  // namespace vonta

#endif
