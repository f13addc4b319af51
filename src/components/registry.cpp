#include "components/registry.h"

#include <vector>

#include "components/deb_multi_packages.h"
#include "components/deb_version_getter.h"
#include "components/mass_package.h"
#include "components/vendor_packages.h"

namespace vonta {

std::map<std::string, PkgCreator*> packageCreators;

namespace {

using DebPackage = MassPackage<DebVersionGetter>;

// Factories and components live as long as the process. These lists keep
// every one reachable to the very end, replaced factories and components
// whose callers dropped them included: unlike the map, they are never torn
// down at exit, so a leak checker finds nothing lost. Nothing reads them.
std::vector<PkgCreator*>& keptCreators() {
    static auto* const kept = new std::vector<PkgCreator*>();
    return *kept;
}

std::vector<Package*>& keptPackages() {
    static auto* const kept = new std::vector<Package*>();
    return *kept;
}

void add(const std::string& name, PkgCreator* creator) {
    // A replaced factory stays alive, as it may still be in use by whoever
    // looked it up.
    keptCreators().push_back(creator);
    packageCreators[name] = creator;
}

void addDeb(const std::string& name, const std::string& debianPackage) {
    add(name, new PkgCreator1<DebPackage>(debianPackage));
}

Package* createKept(PkgCreator& creator) {
    std::vector<Package*>& kept = keptPackages();
    // Room first, so that keeping a new component cannot fail.
    if (kept.size() == kept.capacity()) kept.reserve(2 * kept.size() + 64);
    kept.push_back(creator.create());
    return kept.back();
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
    for (const auto& entry : packageCreators) packages.emplace_hint(packages.end(), entry.first, createKept(*entry.second));
    return packages;
}

Package* createPackage(const std::string& name) {
    auto found = packageCreators.find(name);
    if (found == packageCreators.end()) throw NoSuchPackageException();
    return createKept(*found->second);
}

}  // namespace vonta
