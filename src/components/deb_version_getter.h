#ifndef VERSTALLY_COMPONENTS_DEB_VERSION_GETTER_H
#define VERSTALLY_COMPONENTS_DEB_VERSION_GETTER_H

#include <map>
#include <string>
#include <utility>

#include "components/noncopyable.h"
#include "components/version_getter.h"

namespace vonta {

/// Package name -> (status word, version), as reported by dpkg-query.
using DpkgRecords = std::map<std::string, std::pair<std::string, std::string>>;

/// The version source of Debian packages: one dpkg-query run answers every
/// registered object.
class DebVersionGetter : public VersionGetter, public NonCopyableConcept {
public:
    DebVersionGetter() = default;
    ~DebVersionGetter() override;

    /// Runs dpkg-query once with the names of all registered objects. An
    /// object counts as installed only when its package's status word is
    /// "installed" and its version is not empty. When dpkg-query does not
    /// exist every object is not installed. Throws zev::ExError, list
    /// untouched, when it exists but cannot be executed, is ended by a
    /// signal or exits with a status other than 0 or 1; failures of the
    /// child run (exceptions of the process utilities) pass through too.
    void getVersions() override;
};

/// Splits dpkg-query output into records of three lines: name, status line,
/// version. Missing lines at the end are empty; the status word is what
/// follows the status line's last space (all of it when there is none); a
/// later record for a name replaces an earlier one, except that a record of
/// an installed package ("installed", version not empty) is never replaced
/// by one that is not.
DpkgRecords parseDpkgOutput(const std::string& text);

}  // namespace vonta

#endif
