#ifndef VERSTALLY_TESTS_HARNESS_FAKE_DPKG_QUERY_H
#define VERSTALLY_TESTS_HARNESS_FAKE_DPKG_QUERY_H

#include <string>
#include <sys/types.h>
#include <vector>

#include "harness/sandbox.h"

/// A stand-in for /usr/bin/dpkg-query inside a sandbox: each run logs its
/// arguments and prints the prepared records, whatever it was asked.
class FakeDpkgQuery {
public:
    /// Installs the script with `mode` (not executable: the run fails);
    /// `ending` is shell text run after the records are printed (for
    /// example "exit 2").
    FakeDpkgQuery(const Sandbox& sandbox, const std::string& records, mode_t mode = 0755,
                  const std::string& ending = "");

    /// The arguments after argv[0] of every run so far, in run order.
    std::vector<std::vector<std::string>> runs() const;
    /// The package names of every run (its arguments after the two fixed).
    std::vector<std::vector<std::string>> askedNames() const;

private:
    std::string logPath_;
};

/// One dpkg-query record: name, status line and version, each on a line.
std::string dpkgRecord(const std::string& name, const std::string& status, const std::string& version);
/// A record of an installed package.
std::string installedRecord(const std::string& name, const std::string& version);

/// Names joined with ",", for compact comparisons.
std::string joinNames(const std::vector<std::string>& names);

#endif
