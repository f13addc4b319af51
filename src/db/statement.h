#ifndef VERSTALLY_DB_STATEMENT_H
#define VERSTALLY_DB_STATEMENT_H

// Building blocks of the query routines: the connection a routine works
// on, escaping of quoted values, and statements that are either whole or
// not built at all.

#include <cstdarg>
#include <cstddef>
#include <mysql.h>
#include <string>

#include "env/constants.h"

/// The connection a query routine works on: the caller's, or a private one
/// opened for the one call (open_panel_db, which warns with the reason when
/// it fails) and closed when this object ends.
class QueryConnection {
public:
    /// Uses `given` when it is not null. Otherwise opens a private
    /// connection; when that fails, `failure_text` follows the reason
    /// (emit_error with `exit_code`, so a non-zero code ends the process;
    /// nothing when it is null).
    explicit QueryConnection(MYSQL* given, const char* failure_text = DB_CONNECT_FAILURE, int exit_code = 0);
    ~QueryConnection();
    QueryConnection(const QueryConnection&) = delete;
    QueryConnection& operator=(const QueryConnection&) = delete;

    /// The connection, null when none could be opened.
    MYSQL* get() const { return connection_; }
    bool ok() const { return connection_ != nullptr; }

private:
    MYSQL* connection_;
    bool owned_ = false;
};

/// `value` escaped with the client library for a statement sent on
/// `connection`, to be placed between single or double quotes: whatever it
/// holds, it stays one string literal.
/// A null value gives "".
std::string escape_sql_value(MYSQL* connection, const char* value);
/// The same for a text that may hold NUL bytes (they are escaped too).
std::string escape_sql_value(MYSQL* connection, const std::string& value);

/// True when `name` can stand as a table or column name as it is: not
/// empty, only ASCII letters, digits and '_'.
bool is_sql_identifier(const char* name);

/// Formats a statement into `buffer` of `size` bytes. Returns the buffer,
/// or null (the buffer left empty) when the whole statement would not fit:
/// a cut statement is never produced.
const char* format_statement(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// format_statement with an argument list.
const char* format_statement_v(char* buffer, std::size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

/// printf-style formatting into a string of any length (for messages).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Reason given when a statement would exceed its buffer.
extern const char* const STATEMENT_TOO_LONG;

#endif
