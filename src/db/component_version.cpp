#include "db/component_version.h"

#include <cstring>
#include <string>

#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

// The name is escaped for the connection: a quote or a backslash in it is
// looked up literally, and the statement is never cut.
std::string select_version_statement(MYSQL* db, const char* name) {
    return "SELECT version FROM Components WHERE name = '" + escape_sql_value(db, name) + "'";
}

}  // namespace

void get_component_version(const char* name, char* buffer, int size) {
    QueryConnection db(nullptr, nullptr);
    if (!db.ok()) fatal_error("Unable to connect to the Vonta database");
    // The rest are the server's answers and findings about them, never the
    // failure of a system call: no "System error" line follows them.
    QueryResult result(db.get(), select_version_statement(db.get(), name).c_str());
    if (!result.sent()) fatal_message("Error during mysql_query: %s", result.reason().c_str());
    if (!result.ok()) fatal_message("Error during mysql_store_result: %s", result.reason().c_str());
    const my_ulonglong rows = result.rows();
    if (rows > 1) fatal_message("Duplicate record in Components table for package %s", name);
    if (rows == 0) fatal_message("Package '%s' is not found in Components table", name);
    MYSQL_ROW row = result.next_row();
    if (row == nullptr) fatal_message("Error during mysql_fetch_row: %s", mysql_error(db.get()));
    if (row[0] == nullptr) fatal_message("NULL version for package '%s' in database", name);
    if (size > 0) {
        std::strncpy(buffer, row[0], static_cast<std::size_t>(size));
        buffer[size - 1] = '\0';  // a longer version is cut, never left open
    }
}

bool is_component_installed(const char* name) {
    char version[TEXT_BUFFER_SIZE];
    get_component_version(name, version, sizeof version);
    return std::strcmp(version, NOT_INSTALLED_VERSION) != 0;
}

bool component_installed_quiet(const char* name) {
    QueryConnection db(nullptr, nullptr);
    if (!db.ok()) return false;
    QueryResult result(db.get(), select_version_statement(db.get(), name).c_str());
    if (result.rows() != 1) return false;
    MYSQL_ROW row = result.next_row();
    return row != nullptr && row[0] != nullptr &&
           std::strncmp(row[0], NOT_INSTALLED_VERSION, std::strlen(NOT_INSTALLED_VERSION)) != 0;
}
