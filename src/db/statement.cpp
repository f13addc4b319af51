#include "db/statement.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "db/connection.h"
#include "env/constants.h"
#include "env/messages.h"

const char* const STATEMENT_TOO_LONG = "the statement would exceed 4095 characters and was not sent";

QueryConnection::QueryConnection(MYSQL* given, const char* failure_text, int exit_code) : connection_(given) {
    if (connection_ != nullptr) return;
    connection_ = open_panel_db();
    owned_ = connection_ != nullptr;
    if (!owned_ && failure_text != nullptr) emit_error(failure_text, exit_code);
}

QueryConnection::~QueryConnection() {
    if (owned_) close_connection(connection_);
}

std::string escape_sql_value(MYSQL* connection, const std::string& value) {
    // The library's worst case: every byte escaped, plus the terminator.
    std::string escaped(2 * value.size() + 1, '\0');
    unsigned long written = mysql_real_escape_string(connection, &escaped[0], value.data(), value.size());
    if (written == static_cast<unsigned long>(-1)) {
        // Only possible with a multi-byte character set the value does not
        // fit; the client-side escape of every quote is still safe then.
        written = mysql_escape_string(&escaped[0], value.data(), value.size());
    }
    escaped.resize(written);
    return escaped;
}

std::string escape_sql_value(MYSQL* connection, const char* value) {
    return value == nullptr ? std::string() : escape_sql_value(connection, std::string(value));
}

bool is_sql_identifier(const char* name) {
    if (name == nullptr || *name == '\0') return false;
    for (const char* c = name; *c != '\0'; ++c) {
        const bool letter = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z');
        const bool digit = *c >= '0' && *c <= '9';
        if (!letter && !digit && *c != '_') return false;
    }
    return true;
}

const char* format_statement_v(char* buffer, std::size_t size, const char* format, va_list args) {
    if (buffer == nullptr || size == 0) return nullptr;
    const int length = std::vsnprintf(buffer, size, format, args);
    if (length < 0 || static_cast<std::size_t>(length) >= size) {
        buffer[0] = '\0';
        return nullptr;
    }
    return buffer;
}

const char* format_statement(char* buffer, std::size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const char* statement = format_statement_v(buffer, size, format, args);
    va_end(args);
    return statement;
}

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}
