// Domain values: IP address, parameters, limits and contact e-mail.
#include "db/domain_queries.h"

#include <string>

#include "db/param_store.h"
#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

const char* const CONNECT_FAILURE = DB_CONNECT_FAILURE;

/// The skeleton of a domain getter: the id checked, the connection (the
/// caller's or a private one), the statement built by `build` (false when
/// it would not fit whole), the first column of the first row left in
/// `buffer` ("" without a row or for NULL). Null after "<what>: <reason>"
/// on failure.
template <typename Build>
const char* read_domain_value(char (&buffer)[TEXT_BUFFER_SIZE], const char* dom_id, MYSQL* connection,
                              const char* connect_failure, const std::string& what, Build build) {
    if (!is_domain_id(dom_id)) return warn_null(what + ": " + NOT_A_DOMAIN_ID + "\n");
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, connect_failure);
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    if (!build(use.get(), statement)) return warn_null(what + ": " + STATEMENT_TOO_LONG + "\n");
    QueryResult result(use.get(), statement);
    if (!result.ok()) return warn_null(what + ": " + result.reason() + "\n");
    MYSQL_ROW row = result.next_row();
    copy_value(buffer, sizeof buffer, row != nullptr ? row[0] : nullptr, result.length(0));
    return buffer;
}

using Statement = char[TEXT_BUFFER_SIZE];

}  // namespace

const char* get_ip_address(const char* dom_id, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr) return nullptr;
    return read_domain_value(value, dom_id, connection, "get_ip_address: Unable to connect to the mysql database",
                             "Unable to query IP address", [&](MYSQL* db, Statement& statement) {
                                 return format_statement(
                                     statement, sizeof statement,
                                     "select ipa.ip_address from domains d, hosting h, IP_Addresses ipa "
                                     "where d.id='%s' and d.id=h.dom_id and h.ip_address_id=ipa.id",
                                     escape_sql_value(db, dom_id).c_str());
                             });
}

const char* get_dom_param(const char* dom_id, const char* param, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || param == nullptr || !is_sql_safe(param)) return nullptr;
    return read_domain_value(value, dom_id, connection, DB_WRITER_CONNECT_FAILURE,
                             format_text("Unable to query domain parameter %s", param),
                             [&](MYSQL* db, Statement& statement) {
                                 return format_statement(statement, sizeof statement,
                                                         "select val from dom_param where dom_id='%s' and param='%s'",
                                                         escape_sql_value(db, dom_id).c_str(),
                                                         escape_sql_value(db, param).c_str());
                             });
}

const char* get_dom_parameter(const char* dom_id, const char* parameter, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || parameter == nullptr || !is_sql_safe(parameter)) return nullptr;
    return read_domain_value(value, dom_id, connection, CONNECT_FAILURE,
                             format_text("Unable to query domain parameter %s", parameter),
                             [&](MYSQL* db, Statement& statement) {
                                 return format_statement(statement, sizeof statement,
                                                         "select r.value from domains d, Parameters r \t\twhere "
                                                         "d.id='%s' and d.params_id=r.id and r.parameter='%s'",
                                                         escape_sql_value(db, dom_id).c_str(),
                                                         escape_sql_value(db, parameter).c_str());
                             });
}

const char* get_dom_service_param(const char* dom_id, const char* service_type, const char* parameter,
                                  MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || service_type == nullptr || parameter == nullptr || !is_sql_safe(service_type) ||
        !is_sql_safe(parameter))
        return nullptr;
    return read_domain_value(
        value, dom_id, connection, CONNECT_FAILURE, format_text("Unable to query domain parameter %s", parameter),
        [&](MYSQL* db, Statement& statement) {
            return format_statement(statement, sizeof statement,
                                    "select r.value from DomainServices s, Parameters r \t\t\t\t where "
                                    "s.dom_id='%s' and s.type='%s' and s.parameters_id=r.id  and r.parameter='%s'",
                                    escape_sql_value(db, dom_id).c_str(), escape_sql_value(db, service_type).c_str(),
                                    escape_sql_value(db, parameter).c_str());
        });
}

const char* get_dom_limit(const char* dom_id, const char* limit_name, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || limit_name == nullptr || !is_sql_safe(limit_name)) return nullptr;
    return read_domain_value(value, dom_id, connection, CONNECT_FAILURE,
                             format_text("Unable to query domain limit %s", limit_name),
                             [&](MYSQL* db, Statement& statement) {
                                 return format_statement(statement, sizeof statement,
                                                         "select l.value from domains d, Limits l \t\t\t\t where "
                                                         "d.id='%s' and d.limits_id=l.id  and l.limit_name='%s'",
                                                         escape_sql_value(db, dom_id).c_str(),
                                                         escape_sql_value(db, limit_name).c_str());
                             });
}

const char* get_dom_email(const char* dom_id, MYSQL* connection) {
    static char email[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr) return nullptr;
    const char* const what = "Unable to define clients email";
    // One connection serves both questions, so it is opened here, after
    // the id has passed.
    if (!is_domain_id(dom_id)) return warn_null(std::string(what) + ": " + NOT_A_DOMAIN_ID + "\n");
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return nullptr;
    const char* found = read_domain_value(email, dom_id, use.get(), CONNECT_FAILURE, what,
                                          [&](MYSQL* db, Statement& statement) {
                                              return format_statement(
                                                  statement, sizeof statement,
                                                  "select c.email from domains d, clients c \t\t\t\t\t\t\t\t\twhere "
                                                  "d.cl_id=c.id and d.id='%s'",
                                                  escape_sql_value(db, dom_id).c_str());
                                          });
    if (found == nullptr) return nullptr;
    if (email[0] != '\0') return email;

    // No client address: the panel's own. Its reader reports its failures.
    const char* admin = get_misc_param("admin_email", use.get());
    if (admin == nullptr || admin[0] == '\0') {
        emit_error("Unable to define admin email\n", 0);
        return nullptr;
    }
    copy_value(email, sizeof email, admin, std::char_traits<char>::length(admin));
    return email;
}
