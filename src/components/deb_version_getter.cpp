#include "components/deb_version_getter.h"

#include "components/argument_vector.h"
#include "env/constants.h"
#include "util/child_process.h"
#include "util/exceptions.h"

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

bool isInstalledRecord(const std::pair<std::string, std::string>& record) {
    return record.first == DPKG_INSTALLED_STATUS && !record.second.empty();
}

[[noreturn]] void queryFailed(const std::string& what) {
    throw zev::ExError(std::string("Unable to query the package database: ") + DPKG_QUERY_PATH + " " + what + "\n");
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
        auto record = std::make_pair(std::move(status), std::move(version));
        // A multi-architecture package has one record per architecture; a
        // copy left behind as config-files must not hide the installed one.
        auto found = records.find(name);
        if (found == records.end())
            records.emplace(std::move(name), std::move(record));
        else if (!isInstalledRecord(found->second) || isInstalledRecord(record))
            found->second = std::move(record);
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
    StartError failure;
    const int status = forkExecvGetOutErrExec(output, error, DPKG_QUERY_PATH, args.argv(), failure);
    // No package tool at all: nothing is installed. Any other failure (one
    // that is there but cannot start, no /dev/null) must not pass for an
    // answer, or every real version would be overwritten. Status 1 is the
    // normal answer when some name is unknown.
    if (failure.absent) {
        output.clear();
    } else if (failure.step != StartStep::None) {
        queryFailed("could not be started: " + startErrorText(failure));
    } else if (status < 0) {
        queryFailed("was ended by a signal");
    } else if (status != 0 && status != 1) {
        queryFailed("exited with status " + std::to_string(status));
    }

    const DpkgRecords records = parseDpkgOutput(output);
    for (std::size_t i = 0; i < asked; ++i) {
        Versionable* v = versionables[i];
        auto found = records.find(v->getName());
        if (found == records.end() || !isInstalledRecord(found->second))
            v->setNotInstalled();
        else
            v->setVersion(found->second.second);
    }
    versionables.erase(versionables.begin(), versionables.begin() + static_cast<std::ptrdiff_t>(asked));
}

}  // namespace vonta
