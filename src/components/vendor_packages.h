#ifndef VERSTALLY_COMPONENTS_VENDOR_PACKAGES_H
#define VERSTALLY_COMPONENTS_VENDOR_PACKAGES_H

#include "components/package.h"

// Implemented in: coldfusion_package.cpp, frontpage_package.cpp; both
// start their tools through tool_probe.h.

namespace vonta {

/// ColdFusion: the instance named by the misc parameters cf_instance_type and
/// cf_instance_path, asked with its own tool (jrun -version for "j2ee",
/// cfinfo -info otherwise); the version is the first line of its output.
class ColdfusionPackage : public PackageImpl {
public:
    ~ColdfusionPackage() override;

protected:
    void fetchVersion() override;
};

/// FrontPage: owsadm.exe -version filtered through grep Version; the version
/// is the text after the first "Version: " up to the end of its line.
class FrontpagePackage : public PackageImpl {
public:
    ~FrontpagePackage() override;

protected:
    void fetchVersion() override;
};

}  // namespace vonta

#endif
