#include "db/component_version.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "db/connection.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

constexpr const char* NOT_INSTALLED = "not_installed";

// The name is escaped for the connection: a quote or a backslash in it is
// looked up literally, and the statement is never cut.
std::string selectVersionStatement(MYSQL* db, const char* name) {
    const std::size_t length = std::strlen(name);
    std::string escaped(length * 2 + 1, '\0');
    escaped.resize(mysql_real_escape_string(db, escaped.data(), name, length));
    return "SELECT version FROM Components WHERE name = '" + escaped + "'";
}

}  // namespace

void get_component_version(const char* name, char* buffer, int size) {
    MYSQL* db = open_panel_db();
    if (db == nullptr) report_error(1, "Unable to connect to the Vonta database");
    const std::string statement = selectVersionStatement(db, name);
    if (mysql_query(db, statement.c_str()) != 0) report_error(1, "Error during mysql_query: %s", mysql_error(db));
    MYSQL_RES* result = mysql_store_result(db);
    if (result == nullptr) report_error(1, "Error during mysql_store_result: %s", mysql_error(db));
    const my_ulonglong rows = mysql_num_rows(result);
    // These findings come from no failed system call: a stale errno of the
    // client library must not add a false reason to them.
    if (rows > 1) {
        errno = 0;
        report_error(1, "Duplicate record in Components table for package %s", name);
    }
    if (rows == 0) {
        errno = 0;
        report_error(1, "Package '%s' is not found in Components table", name);
    }
    MYSQL_ROW row = mysql_fetch_row(result);
    if (row == nullptr) report_error(1, "Error during mysql_fetch_row: %s", mysql_error(db));
    if (row[0] == nullptr) {
        errno = 0;
        report_error(1, "NULL version for package '%s' in database", name);
    }
    if (size > 0) {
        std::strncpy(buffer, row[0], static_cast<std::size_t>(size));
        buffer[size - 1] = '\0';  // a longer version is cut, never left open
    }
    mysql_free_result(result);
    mysql_close(db);
}

bool is_component_installed(const char* name) {
    char version[TEXT_BUFFER_SIZE];
    get_component_version(name, version, sizeof version);
    return std::strcmp(version, NOT_INSTALLED) != 0;
}

bool component_installed_quiet(const char* name) {
    MYSQL* db = open_panel_db();
    if (db == nullptr) return false;
    bool installed = false;
    const std::string statement = selectVersionStatement(db, name);
    if (mysql_query(db, statement.c_str()) == 0) {
        if (MYSQL_RES* result = mysql_store_result(db)) {
            if (mysql_num_rows(result) == 1) {
                MYSQL_ROW row = mysql_fetch_row(result);
                if (row != nullptr && row[0] != nullptr)
                    installed = std::strncmp(row[0], NOT_INSTALLED, std::strlen(NOT_INSTALLED)) != 0;
            }
            mysql_free_result(result);
        }
    }
    mysql_close(db);
    return installed;
}
