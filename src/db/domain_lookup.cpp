// Domain names and ids, and the next free id of a table.
#include "db/domain_queries.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "db/idn.h"
#include "db/param_store.h"
#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

const char* const CONNECT_FAILURE = DB_CONNECT_FAILURE;

/// Shared by lowercase_copy and get_dom_name.
char lowercase_buffer[TEXT_BUFFER_SIZE];

/// Lowers A-Z of `buffer` in place; other bytes (UTF-8 included) stay.
void lower_ascii(char* buffer) {
    for (char* c = buffer; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
}

/// Writes `message` and ends the process with status 1.
// The text as it stands, without a "System error" line: the failures here
// are the server's, already described by the text.
[[noreturn]] void fatal(const std::string& message) {
    emit_error(message.c_str(), 1);
    std::exit(1);  // not reached: a fatal report ends the process
}

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};

}  // namespace

const char* lowercase_copy(const char* text) {
    if (text == nullptr) return nullptr;
    copy_value(lowercase_buffer, sizeof lowercase_buffer, text, std::strlen(text));
    lower_ascii(lowercase_buffer);
    return lowercase_buffer;
}

const char* get_dom_id(const char* dom_name, MYSQL* connection) {
    static char id[TEXT_BUFFER_SIZE];
    if (dom_name == nullptr || !is_sql_safe(dom_name)) return nullptr;
    const std::unique_ptr<char, FreeDeleter> ascii(idn_toascii(dom_name));
    if (!ascii) fatal_error("idn_toascii() failed: %s", idn_error_text(idn_last_error));

    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    if (!format_statement(statement, sizeof statement, "select id from domains where name='%s'",
                          escape_sql_value(use.get(), ascii.get()).c_str()))
        fatal(format_text("Unable to query domain ID: %s\n", STATEMENT_TOO_LONG));
    QueryResult result(use.get(), statement);
    if (!result.ok()) fatal(format_text("Unable to query domain ID: %s\n", result.reason().c_str()));
    MYSQL_ROW row = result.next_row();
    if (row == nullptr || row[0] == nullptr)
        fatal(format_text("get_dom_id(): domains record not found in DB for '%s'\n", dom_name));
    copy_value(id, sizeof id, row[0], result.length(0));
    return id;
}

const char* get_dom_name(const char* dom_name) {
    if (dom_name == nullptr || !is_sql_safe(dom_name)) return nullptr;
    {
        QueryConnection use(nullptr, QueryConnection::Opener::DbConnect, CONNECT_FAILURE, 1);
        if (!use.ok()) return nullptr;
        char statement[TEXT_BUFFER_SIZE];
        if (!format_statement(statement, sizeof statement, "select name from domains where name='%s'",
                              escape_sql_value(use.get(), dom_name).c_str()))
            fatal(format_text("Unable to query domain name: %s\n", STATEMENT_TOO_LONG));
        QueryResult result(use.get(), statement);
        if (!result.ok()) fatal(format_text("Unable to query domain name: %s\n", result.reason().c_str()));
        MYSQL_ROW row = result.next_row();
        if (row == nullptr || row[0] == nullptr) return nullptr;
        copy_value(lowercase_buffer, sizeof lowercase_buffer, row[0], result.length(0));
    }
    lower_ascii(lowercase_buffer);
    return lowercase_buffer;
}

long next_table_id(const char* table, MYSQL* connection) {
    // A table name cannot be escaped: only plain names are let through.
    if (!is_sql_identifier(table)) {
        emit_error(format_text("Unable to define max id: '%s' is not a plain table name", table != nullptr ? table : "")
                       .c_str(),
                   0);
        return 0;
    }
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return 0;
    char statement[TEXT_BUFFER_SIZE];
    if (!format_statement(statement, sizeof statement, "SELECT max(id) FROM %s", table)) {
        emit_error(format_text("Unable to define max id: %s", STATEMENT_TOO_LONG).c_str(), 0);
        return 0;
    }
    QueryResult result(use.get(), statement);
    if (!result.ok()) {
        emit_error(format_text("Unable to define max id: %s", result.reason().c_str()).c_str(), 0);
        return 0;
    }
    MYSQL_ROW row = result.next_row();
    if (row == nullptr || row[0] == nullptr) return 1;

    errno = 0;
    char* end = nullptr;
    const long largest = std::strtol(row[0], &end, 10);
    // The next id must be a number one above the largest: no guess when
    // the largest is no number or already the last one.
    if (end == row[0] || *end != '\0' || errno == ERANGE || largest == LONG_MAX) {
        errno = 0;
        emit_error(format_text("Unable to define max id: the largest id of %s, '%s', has no successor", table, row[0])
                       .c_str(),
                   0);
        return 0;
    }
    return largest + 1;
}
