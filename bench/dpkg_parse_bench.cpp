// Cost of the Debian version source: parsing a large dpkg-query output, and
// one batch of 34 names against the machine's own package database (one
// child process, however many names it asks about).
#include <benchmark/benchmark.h>
#include <memory>
#include <string>
#include <vector>

#include "components/deb_version_getter.h"
#include "components/versionable.h"

namespace {

void BM_ParseDpkgOutput(benchmark::State& state) {
    std::string text;
    for (int64_t i = 0; i < state.range(0); ++i)
        text += "package-" + std::to_string(i) + "\ninstall ok installed\n1:" + std::to_string(i) + ".0-1+b2\n";
    for (auto _ : state) {
        vonta::DpkgRecords records = vonta::parseDpkgOutput(text);
        benchmark::DoNotOptimize(records.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseDpkgOutput)->Arg(34)->Arg(5000)->Unit(benchmark::kMicrosecond);

// The Debian packages of a full update run, plus a few that exist here.
const char* const BATCH[] = {
    "sshterm", "bind9", "libstdc++2.9-glibc2.1", "zev-courier-imap", "drweb-qmail", "apache2", "mailman",
    "libapache2-mod-perl2", "libapache2-mod-python", "libapache-asp-perl", "postgresql", "samba",
    "spamassassin", "tomcat4", "webalizer", "zev", "zev-api-rpc", "zev-bu", "zev-horde", "zev-imp",
    "zev-logrotate", "zev-manual-custom-skin-guide", "zev-migration-manager", "zev-proftpd", "zev-qmail",
    "zev-qmail-rblsmtpd", "zev-spamassassin", "zev-tomcat-configurator", "zev-turba", "mysql-server",
    "bash", "coreutils", "dpkg", "libc6"};
static_assert(sizeof BATCH / sizeof BATCH[0] == 34, "a full batch");

void BM_RealBatchOf34(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<std::unique_ptr<vonta::PackageVersionHolder>> holders;
        vonta::DebVersionGetter getter;
        for (const char* name : BATCH) {
            holders.push_back(std::make_unique<vonta::PackageVersionHolder>(name));
            getter.addVersionable(holders.back().get());
        }
        getter.getVersions();
        benchmark::DoNotOptimize(holders.back()->installed);
    }
}
BENCHMARK(BM_RealBatchOf34)->Unit(benchmark::kMillisecond);

}  // namespace
