#ifndef VERSTALLY_TESTS_HARNESS_COMPONENTS_TABLE_H
#define VERSTALLY_TESTS_HARNESS_COMPONENTS_TABLE_H

#include <map>
#include <string>
#include <vector>

#include "harness/database.h"

/// A registered component as the panel sees it, and the Debian package
/// whose state it reports ("" for the components with rules or probes).
struct RegisteredComponent {
    const char* name;
    const char* debianPackage;
};

/// The 34 registered components in the order of their rows (byte order).
const std::vector<RegisteredComponent>& registeredComponents();

/// The Components table of `db` as name -> version ("<NULL>" for NULL).
std::map<std::string, std::string> componentRows(TestDatabase& db);

/// The REPLACE statement the update run sends for these rows, in order.
std::string expectedReplace(const std::vector<std::pair<std::string, std::string>>& rows);

#endif
