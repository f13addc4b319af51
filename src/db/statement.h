#ifndef VERSTALLY_DB_STATEMENT_H
#define VERSTALLY_DB_STATEMENT_H

// Building blocks of the query routines: the connection a routine works
// on, escaping of quoted values, and statements that are either whole or
// not built at all.

#include <cstdarg>
#include <cstddef>
#include <mysql.h>
#include <string>

/// The connection a query routine works on: the caller's, or a private one
/// opened for the one call and closed when this object ends.
class QueryConnection {
public:
    /// How a private connection is opened. Readers use db_connect and write
    /// its reason themselves; writers use open_panel_db, which writes it.
    enum class Opener { DbConnect, OpenPanelDb };

    /// Uses `given` when it is not null. Otherwise opens a private
    /// connection with `opener`; when that fails, the reason is written
    /// (emit_error, exit code 0), then `failure_text` (emit_error,
    /// `exit_code`, so a non-zero code ends the process).
    QueryConnection(MYSQL* given, Opener opener, const char* failure_text, int exit_code = 0);
    /// Takes over a connection the caller opened (null: none), to close it.
    explicit QueryConnection(MYSQL* opened) : connection_(opened), owned_(opened != nullptr) {}
    ~QueryConnection();
    QueryConnection(const QueryConnection&) = delete;
    QueryConnection& operator=(const QueryConnection&) = delete;

    /// The connection, null when none could be opened.
    MYSQL* get() const { return connection_; }
    bool ok() const { return connection_ != nullptr; }

private:
    MYSQL* connection_;
    bool owned_;
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

/// Formats a statement into `buffer` of `size` bytes. Returns false and
/// leaves the buffer empty when the whole statement would not fit: a cut
/// statement is never produced.
bool format_statement(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// format_statement with an argument list.
bool format_statement_v(char* buffer, std::size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

/// printf-style formatting into a string of any length (for messages).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Writes `message` as a warning (emit_error, exit code 0) and returns null,
/// for the readers' failure paths.
const char* warn_null(const std::string& message);

/// Reason given when a statement would exceed its buffer.
extern const char* const STATEMENT_TOO_LONG;

#endif
