#include "components/registry.h"

#include <memory>
#include <vector>

#include "components/coldfusion_package.h"
#include "components/deb_multi_packages.h"
#include "components/deb_version_getter.h"
#include "components/frontpage_package.h"
#include "components/mass_package.h"

namespace vonta {

// The registry owns its factories and every component it makes, for the
// life of the process. Neither owner is ever torn down: the objects stay in
// use (and reachable for a leak checker) until the very end.
std::map<std::string, PkgCreator*>& packageCreators = *new std::map<std::string, PkgCreator*>();

namespace {

using DebPackage = MassPackage<DebVersionGetter>;

std::vector<std::unique_ptr<Package>>& components = *new std::vector<std::unique_ptr<Package>>();

void add(const std::string& name, std::unique_ptr<PkgCreator> creator) {
    PkgCreator*& entry = packageCreators[name];
    // The factory replaced is no one else's: lookups never keep one.
    delete entry;
    entry = creator.release();
}

template <class T>
void add(const std::string& name) {
    add(name, std::unique_ptr<PkgCreator>(new PkgCreator0<T>()));
}

void addDeb(const std::string& name, const std::string& debianPackage) {
    add(name, std::unique_ptr<PkgCreator>(new PkgCreator1<DebPackage>(debianPackage)));
}

Package* createOwned(PkgCreator& creator) {
    std::unique_ptr<Package> component(creator.create());
    components.push_back(std::move(component));
    return components.back().get();
}

}  // namespace

void registerPackages() {
    addDeb("zev", "zev");
    add<FrontpagePackage>("frontpage");
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
    add<ColdfusionPackage>("coldfusion");
    addDeb("httpd", "apache2");
    addDeb("perl-Apache-ASP", "libapache-asp-perl");
    addDeb("SSHTerm", "sshterm");
    add<DebMultiMysqlPackage>("mysql");
    add<DebMultiPhpPackage>("php");
    addDeb("mod_perl", "libapache2-mod-perl2");
    addDeb("mod_python", "libapache2-mod-python");
    addDeb("courier-imap", "zev-courier-imap");
    addDeb("postgresql-server", "postgresql");
    addDeb("bind", "bind9");
    addDeb("samba", "samba");
    add<DebMultiDrwebPackage>("drweb");
    add<DebianColdfusionSupport>("coldfusion-support");
}

std::map<std::string, Package*> createAllPackages() {
    std::map<std::string, Package*> packages;
    for (const auto& entry : packageCreators)
        packages.emplace_hint(packages.end(), entry.first, createOwned(*entry.second));
    return packages;
}

Package* createPackage(const std::string& name) {
    auto found = packageCreators.find(name);
    if (found == packageCreators.end()) throw NoSuchPackageException();
    return createOwned(*found->second);
}

}  // namespace vonta
