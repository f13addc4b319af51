#include "components/deb_multi_packages.h"

#include "env/constants.h"

namespace vonta {

namespace {

// Asks for `first` and then `second` in one query; returns the first of the
// two that is installed, null when neither is.
const PackageVersionHolder* firstInstalled(PackageVersionHolder& first, PackageVersionHolder& second) {
    DebVersionGetter getter;
    getter.addVersionable(&first);
    getter.addVersionable(&second);
    getter.getVersions();
    if (first.installed) return &first;
    if (second.installed) return &second;
    return nullptr;
}

}  // namespace

DebMultiMysqlPackage::~DebMultiMysqlPackage() = default;

void DebMultiMysqlPackage::fetchVersion() {
    PackageVersionHolder server(MYSQL_SERVER_PACKAGE);
    PackageVersionHolder server41(MYSQL_SERVER_41_PACKAGE);
    if (const PackageVersionHolder* found = firstInstalled(server, server41)) {
        installed = true;
        version = found->version;
    }
}

DebMultiPhpPackage::~DebMultiPhpPackage() = default;

void DebMultiPhpPackage::fetchVersion() {
    PackageVersionHolder php4(PHP4_MODULE_PACKAGE);
    PackageVersionHolder php5(PHP5_MODULE_PACKAGE);
    if (const PackageVersionHolder* found = firstInstalled(php4, php5)) {
        installed = true;
        version = found->version;
    }
}

DebMultiDrwebPackage::~DebMultiDrwebPackage() = default;

void DebMultiDrwebPackage::fetchVersion() {
    PackageVersionHolder base(DRWEB_BASE_PACKAGE);
    PackageVersionHolder updater(DRWEB_UPDATER_PACKAGE);
    PackageVersionHolder daemon(DRWEB_DAEMON_PACKAGE);
    DebVersionGetter getter;
    getter.addVersionable(&base);
    getter.addVersionable(&updater);
    getter.addVersionable(&daemon);
    getter.getVersions();
    if (base.installed && updater.installed && daemon.installed) {
        installed = true;
        version = daemon.version;
    }
}

DebianColdfusionSupport::DebianColdfusionSupport() : MassPackage<DebVersionGetter>(COLDFUSION_SUPPORT_PACKAGE) {}

DebianColdfusionSupport::~DebianColdfusionSupport() = default;

}  // namespace vonta
