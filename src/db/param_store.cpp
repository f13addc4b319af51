#include "db/param_store.h"

#include <climits>
#include <cstdarg>
#include <cstring>

#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

const char* const NOT_A_DOMAIN_ID = "the domain id is not a decimal number up to 4294967295";

namespace {

/// The readers' shared result.
char value_buffer[TEXT_BUFFER_SIZE];

/// What a writer does once its arguments have passed: open the connection
/// when none is given, format the statement, send it. Its failure message
/// is "Unable to <action> parameter <name> <direction> <table>: <reason>",
/// e.g. "Unable to put parameter %s into misc: %s".
class Writer {
public:
    Writer(const char* action, const char* direction, const char* table, const char* name, MYSQL* given)
        : failure_{format_text("Unable to %s parameter %s %s %s", action, name, direction, table), ""},
          connection_(given, DB_WRITER_CONNECT_FAILURE) {}

    bool ok() const { return connection_.ok(); }
    std::string escape(const char* id) const { return escape_sql_value(connection_.get(), id); }

    /// Formats the statement (refused whole when it would not fit) and
    /// sends it: 0, or -1 after the failure message.
    int send(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char text[TEXT_BUFFER_SIZE];
        va_list args;
        va_start(args, format);
        const char* statement = format_statement_v(text, sizeof text, format, args);
        va_end(args);
        if (statement == nullptr) return fail(STATEMENT_TOO_LONG);
        if (mysql_real_query(connection_.get(), statement, std::strlen(statement)) != 0)
            return fail(mysql_error(connection_.get()));
        return 0;
    }

private:
    int fail(const char* reason) const {
        failure_.report(reason);
        return -1;
    }

    const QueryFailure failure_;
    QueryConnection connection_;
};

}  // namespace

bool is_sql_safe(const char* text) { return text == nullptr || std::strpbrk(text, "\"'\\") == nullptr; }

bool parse_unsigned_column(const char* text, unsigned* value) {
    if (text == nullptr || *text == '\0') return false;
    unsigned long long number = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        number = number * 10 + static_cast<unsigned>(*c - '0');
        if (number > UINT_MAX) return false;
    }
    *value = static_cast<unsigned>(number);
    return true;
}

bool is_domain_id(const char* dom_id) {
    unsigned ignored = 0;
    return parse_unsigned_column(dom_id, &ignored);
}

const char* query_single_value(const char* statement, MYSQL* connection) {
    value_buffer[0] = '\0';
    if (statement == nullptr) {
        warn_message("Unable to query parameter: no statement given\n");
        return nullptr;
    }
    QueryConnection use(connection);
    if (!use.ok()) return nullptr;
    // Sent whole: the statement is never cut to a buffer's size. A value
    // longer than the buffer is cut; a value is not a statement.
    const QueryFailure failure{std::string("Unable to query parameter by query ") + statement};
    if (read_first_value(use.get(), statement, value_buffer, sizeof value_buffer, failure) == FirstValue::Failed)
        return nullptr;
    return value_buffer;
}

const char* get_value_by_key(const char* key_value, const char* table, const char* key_column,
                             const char* selected_column, MYSQL* connection) {
    if (key_value == nullptr) {
        warn_message("Unable to query parameter: no key given\n");
        return nullptr;
    }
    for (const char* name : {table, key_column, selected_column}) {
        if (!is_sql_identifier(name)) {
            warn_message("Unable to query parameter: '%s' is not a table or column name\n",
                         name != nullptr ? name : "");
            return nullptr;
        }
    }
    QueryConnection use(connection);
    if (!use.ok()) return nullptr;
    const std::string key = escape_sql_value(use.get(), key_value);
    char statement[TEXT_BUFFER_SIZE];
    if (!format_statement(statement, sizeof statement, "select %s from %s where %s='%s'", selected_column, table,
                          key_column, key.c_str())) {
        warn_message("Unable to query %s from %s: %s\n", selected_column, table, STATEMENT_TOO_LONG);
        return nullptr;
    }
    return query_single_value(statement, use.get());
}

const char* get_dom_htype(const char* dom_id, MYSQL* connection) {
    // A null id is get_value_by_key's missing key.
    if (dom_id != nullptr && !is_domain_id(dom_id)) {
        warn_message("Unable to query htype from domains: %s\n", NOT_A_DOMAIN_ID);
        return nullptr;
    }
    return get_value_by_key(dom_id, "domains", "id", "htype", connection);
}

const char* get_misc_param(const char* param, MYSQL* connection) {
    return get_value_by_key(param, "misc", "param", "val", connection);
}

int put_misc_param(const char* param, const char* val, MYSQL* connection) {
    if (param == nullptr || !is_sql_safe(param) || !is_sql_safe(val)) return -1;
    Writer writer("put", "into", "misc", param, connection);
    if (!writer.ok()) return -1;
    return val != nullptr ? writer.send("replace into misc (param, val) values('%s', '%s')", param, val)
                          : writer.send("replace into misc (param) values('%s')", param);
}

int put_dom_param(const char* dom_id, const char* param, const char* val, MYSQL* connection) {
    if (dom_id == nullptr || param == nullptr || val == nullptr || !is_sql_safe(param) || !is_sql_safe(val)) return -1;
    if (!is_domain_id(dom_id)) {
        warn_message("Unable to put parameter %s into dom_param: %s", param, NOT_A_DOMAIN_ID);
        return -1;
    }
    Writer writer("put", "into", "dom_param", param, connection);
    if (!writer.ok()) return -1;
    return writer.send("replace into dom_param (dom_id, param, val) values('%s', '%s', '%s')",
                       writer.escape(dom_id).c_str(), param, val);
}

int put_parameter(const char* id, const char* parameter, const char* value, MYSQL* connection) {
    if (id == nullptr || parameter == nullptr || value == nullptr || !is_sql_safe(parameter) || !is_sql_safe(value))
        return -1;
    Writer writer("put", "into", "Parameters", parameter, connection);
    if (!writer.ok()) return -1;
    return writer.send("replace into Parameters (id, parameter, value) values('%s', '%s', '%s')",
                       writer.escape(id).c_str(), parameter, value);
}

int delete_misc_param(const char* param, MYSQL* connection) {
    if (param == nullptr || !is_sql_safe(param)) return -1;
    Writer writer("delete", "from", "misc", param, connection);
    if (!writer.ok()) return -1;
    return writer.send("delete from misc where param='%s'", param);
}

int delete_dom_param(const char* dom_id, const char* param, MYSQL* connection) {
    if (dom_id == nullptr || param == nullptr || !is_sql_safe(param)) return -1;
    if (!is_domain_id(dom_id)) {
        warn_message("Unable to delete parameter %s from dom_param: %s", param, NOT_A_DOMAIN_ID);
        return -1;
    }
    Writer writer("delete", "from", "dom_param", param, connection);
    if (!writer.ok()) return -1;
    return writer.send("delete from dom_param where dom_id='%s' and param='%s'", writer.escape(dom_id).c_str(), param);
}

int delete_parameter(const char* id, const char* parameter, const char* value, MYSQL* connection) {
    if (id == nullptr || parameter == nullptr || !is_sql_safe(parameter) || !is_sql_safe(value)) return -1;
    Writer writer("delete", "from", "Parameters", parameter, connection);
    if (!writer.ok()) return -1;
    const std::string escaped_id = writer.escape(id);
    return value != nullptr ? writer.send("delete from Parameters where id='%s' and parameter='%s' and value='%s'",
                                          escaped_id.c_str(), parameter, value)
                            : writer.send("delete from Parameters where id='%s' and parameter='%s'",
                                          escaped_id.c_str(), parameter);
}
