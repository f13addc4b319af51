#include "components/deb_version_getter.h"

#include "components/argument_vector.h"
#include "env/constants.h"
#include "util/child_process.h"

namespace vonta {

namespace {

// The next line from `pos` without its line feed; empty past the end.
std::string nextLine(const std::string& text, std::size_t& pos) {
    if (pos >= text.size()) return std::string();
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    return line;
}

}  // namespace

DpkgRecords parseDpkgOutput(const std::string& text) {
    DpkgRecords records;
    std::size_t pos = 0;
    // Records are taken by position only; nothing checks what a line holds.
    while (pos < text.size()) {
        std::string name = nextLine(text, pos);
        std::string status = nextLine(text, pos);
        std::string version = nextLine(text, pos);
        const std::size_t space = status.rfind(' ');
        if (space != std::string::npos) status.erase(0, space + 1);
        records[std::move(name)] = std::make_pair(std::move(status), std::move(version));
    }
    return records;
}

DebVersionGetter::~DebVersionGetter() = default;

void DebVersionGetter::getVersions() {
    // Only the objects listed now are answered and removed; the list is
    // changed only once the whole run has succeeded.
    const std::size_t asked = versionables.size();
    // Without names dpkg-query would list the whole package database.
    if (asked == 0) return;

    ArgumentVector args;
    args.append(DPKG_QUERY_PATH);
    args.append(DPKG_QUERY_SHOW);
    args.append(DPKG_QUERY_FORMAT);
    for (std::size_t i = 0; i < asked; ++i) args.append(versionables[i]->getName());

    std::string output;
    std::string error;
    // Neither the exit status nor the error text matters: a package without
    // a record counts as not installed.
    forkExecvGetOutErr(output, error, DPKG_QUERY_PATH, args.argv());

    const DpkgRecords records = parseDpkgOutput(output);
    for (std::size_t i = 0; i < asked; ++i) {
        Versionable* v = versionables[i];
        auto found = records.find(v->getName());
        if (found == records.end() || found->second.second.empty() || found->second.first != DPKG_INSTALLED_STATUS)
            v->setNotInstalled();
        else
            v->setVersion(found->second.second);
    }
    versionables.erase(versionables.begin(), versionables.begin() + static_cast<std::ptrdiff_t>(asked));
}

}  // namespace vonta
