#ifndef VERSTALLY_COMPONENTS_PKG_CREATOR_H
#define VERSTALLY_COMPONENTS_PKG_CREATOR_H

#include <string>

#include "components/package.h"

namespace vonta {

/// A factory of one kind of component.
class PkgCreator {
public:
    virtual ~PkgCreator() = default;
    /// A new component owned by the caller; never null.
    virtual Package* create() = 0;
};

/// Makes a default-constructed T at each call.
template <class T>
class PkgCreator0 : public PkgCreator {
public:
    ~PkgCreator0() override = default;
    Package* create() override { return new T(); }
};

/// Makes a T from the stored argument at each call.
template <class T>
class PkgCreator1 : public PkgCreator {
public:
    explicit PkgCreator1(const std::string& given) : argument(given) {}
    ~PkgCreator1() override = default;
    Package* create() override { return new T(argument); }

private:
    const std::string argument;
};

/// Thrown by value when a component name is not registered.
class NoSuchPackageException {};

}  // namespace vonta

#endif
