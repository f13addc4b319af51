#include "harness/fake_dpkg_query.h"

#include "harness/capture.h"

FakeDpkgQuery::FakeDpkgQuery(const Sandbox& sandbox, const std::string& records, mode_t mode,
                             const std::string& ending)
    : logPath_(sandbox.root() + "/fake-dpkg-query.log") {
    const std::string recordsPath = sandbox.root() + "/fake-dpkg-query.out";
    sandbox.writeFile(recordsPath, records);
    sandbox.writeFile(logPath_, "");
    // Arguments end with NUL, runs with 0x1e: a format argument holds line
    // feeds of its own.
    sandbox.writeFile("/usr/bin/dpkg-query",
                      "#!/bin/sh\n"
                      "for a in \"$@\"; do printf '%s' \"$a\"; printf '\\000'; done >> '" + logPath_ + "'\n"
                      "printf '\\036' >> '" + logPath_ + "'\n"
                      "cat '" + recordsPath + "'\n" + ending + "\n",
                      mode);
}

std::vector<std::vector<std::string>> FakeDpkgQuery::runs() const {
    const std::string log = readWholeFile(logPath_);
    std::vector<std::vector<std::string>> result;
    std::vector<std::string> current;
    std::string argument;
    for (char c : log) {
        if (c == '\036') {
            result.push_back(current);
            current.clear();
        } else if (c == '\0') {
            current.push_back(argument);
            argument.clear();
        } else {
            argument += c;
        }
    }
    return result;
}

std::vector<std::vector<std::string>> FakeDpkgQuery::askedNames() const {
    std::vector<std::vector<std::string>> result;
    for (const auto& run : runs()) result.emplace_back(run.size() > 2 ? run.begin() + 2 : run.end(), run.end());
    return result;
}

std::string dpkgRecord(const std::string& name, const std::string& status, const std::string& version) {
    return name + "\n" + status + "\n" + version + "\n";
}

std::string installedRecord(const std::string& name, const std::string& version) {
    return dpkgRecord(name, "install ok installed", version);
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ",") + name;
    return text;
}
