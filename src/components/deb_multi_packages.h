#ifndef VERSTALLY_COMPONENTS_DEB_MULTI_PACKAGES_H
#define VERSTALLY_COMPONENTS_DEB_MULTI_PACKAGES_H

#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "components/package.h"

namespace vonta {

// Components whose state follows a rule over several Debian packages
// (mysql, php, drweb): each runs one dpkg-query of its own, through a local
// getter, at its first question. coldfusion-support, one package, is a
// member of the shared MassPackage batch like the plain components.

/// "mysql": mysql-server if installed, else mysql-server-4.1.
class DebMultiMysqlPackage : public PackageImpl {
public:
    ~DebMultiMysqlPackage() override;

protected:
    void fetchVersion() override;
};

/// "php": libapache2-mod-php4 if installed, else libapache2-mod-php5.
class DebMultiPhpPackage : public PackageImpl {
public:
    ~DebMultiPhpPackage() override;

protected:
    void fetchVersion() override;
};

/// "drweb": installed only when drweb-base, drweb-updater and drweb-daemon
/// all are; the version is drweb-daemon's.
class DebMultiDrwebPackage : public PackageImpl {
public:
    ~DebMultiDrwebPackage() override;

protected:
    void fetchVersion() override;
};

/// "coldfusion-support": the state of libstdc++2.9-glibc2.1, answered by
/// the shared MassPackage batch.
class DebianColdfusionSupport : public MassPackage<DebVersionGetter> {
public:
    DebianColdfusionSupport();
    ~DebianColdfusionSupport() override;
};

}  // namespace vonta

#endif
