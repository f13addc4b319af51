#ifndef VERSTALLY_COMPONENTS_COLDFUSION_PACKAGE_H
#define VERSTALLY_COMPONENTS_COLDFUSION_PACKAGE_H

#include "components/package.h"

namespace vonta {

/// ColdFusion: the instance named by the misc parameters cf_instance_type and
/// cf_instance_path, asked with its own tool (jrun -version for "j2ee",
/// cfinfo -info otherwise, started through tool_probe.h); the version is the
/// first line of its output.
class ColdfusionPackage : public PackageImpl {
public:
    ~ColdfusionPackage() override;

protected:
    void fetchVersion() override;
};

}  // namespace vonta

#endif
