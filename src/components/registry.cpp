#include "components/registry.h"

#include "components/deb_multi_packages.h"
#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "components/vendor_packages.h"

namespace vonta {

std::map<std::string, PkgCreator*> packageCreators;

namespace {

using DebPackage = MassPackage<DebVersionGetter>;

void add(const std::string& name, PkgCreator* creator) {
    // Factories live as long as the process: a replaced one is left as is,
    // as a creator may still be in use by whoever looked it up.
    packageCreators[name] = creator;
}

void addDeb(const std::string& name, const std::string& debianPackage) {
    add(name, new PkgCreator1<DebPackage>(debianPackage));
}

}  // namespace

void registerPackages() {
    addDeb("zev", "zev");
    add("frontpage", new PkgCreator0<FrontpagePackage>());
    addDeb("mailman", "mailman");
    addDeb("webalizer", "webalizer");
    addDeb("zev-migration-manager", "zev-migration-manager");
    addDeb("spamassassin", "spamassassin");
    addDeb("drweb-qmail", "drweb-qmail");
    addDeb("zev-api-rpc", "zev-api-rpc");
    addDeb("zev-spamassassin", "zev-spamassassin");
    addDeb("zev-qmail", "zev-qmail");
    addDeb("zev-qmail-rblsmtpd", "zev-qmail-rblsmtpd");
    addDeb("zev-proftpd", "zev-proftpd");
    addDeb("zev-logrotate", "zev-logrotate");
    addDeb("tomcat", "tomcat4");
    addDeb("zev-tomcat-configurator", "zev-tomcat-configurator");
    addDeb("zev-bu", "zev-bu");
    addDeb("zev-manual-custom-skin-guide", "zev-manual-custom-skin-guide");
    addDeb("zev-horde", "zev-horde");
    addDeb("zev-imp", "zev-imp");
    addDeb("zev-turba", "zev-turba");
    add("coldfusion", new PkgCreator0<ColdfusionPackage>());
    addDeb("httpd", "apache2");
    addDeb("perl-Apache-ASP", "libapache-asp-perl");
    addDeb("SSHTerm", "sshterm");
    add("mysql", new PkgCreator0<DebMultiMysqlPackage>());
    add("php", new PkgCreator0<DebMultiPhpPackage>());
    addDeb("mod_perl", "libapache2-mod-perl2");
    addDeb("mod_python", "libapache2-mod-python");
    addDeb("courier-imap", "zev-courier-imap");
    addDeb("postgresql-server", "postgresql");
    addDeb("bind", "bind9");
    addDeb("samba", "samba");
    add("drweb", new PkgCreator0<DebMultiDrwebPackage>());
    add("coldfusion-support", new PkgCreator0<DebianColdfusionSupport>());
}

std::map<std::string, Package*> createAllPackages() {
    std::map<std::string, Package*> packages;
    for (const auto& entry : packageCreators) packages.emplace_hint(packages.end(), entry.first, entry.second->create());
    return packages;
}

Package* createPackage(const std::string& name) {
    auto found = packageCreators.find(name);
    if (found == packageCreators.end()) throw NoSuchPackageException();
    return found->second->create();
}

}  // namespace vonta
