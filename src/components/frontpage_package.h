#ifndef VERSTALLY_COMPONENTS_FRONTPAGE_PACKAGE_H
#define VERSTALLY_COMPONENTS_FRONTPAGE_PACKAGE_H

#include "components/package.h"

namespace vonta {

/// FrontPage: owsadm.exe -version filtered through grep Version (both
/// started through tool_probe.h); the version is the text after the first
/// "Version: " up to the end of its line.
class FrontpagePackage : public PackageImpl {
public:
    ~FrontpagePackage() override;

protected:
    void fetchVersion() override;
};

}  // namespace vonta

#endif
