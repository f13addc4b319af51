// Domain values: IP address, parameters, limits and contact e-mail.
#include "db/domain_queries.h"

#include <string>

#include "db/param_store.h"
#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

const char* const CONNECT_FAILURE = "Unable to connect to the mysql database\n";

/// Writes "<what>: <reason>\n" as a warning; returns null for the caller.
const char* warn(const std::string& what, const std::string& reason) {
    emit_error((what + ": " + reason + "\n").c_str(), 0);
    return nullptr;
}

/// Runs `statement` (`fits` false when it could not be built whole) and
/// leaves the first column of its first row in `buffer`, "" without a row
/// or for NULL. Null after "<what>: <reason>" on failure.
const char* read_value(char (&buffer)[TEXT_BUFFER_SIZE], MYSQL* db, const char* statement, bool fits,
                       const std::string& what) {
    if (!fits) return warn(what, STATEMENT_TOO_LONG);
    QueryResult result(db, statement);
    if (!result.ok()) return warn(what, result.reason());
    MYSQL_ROW row = result.next_row();
    copy_value(buffer, sizeof buffer, row != nullptr ? row[0] : nullptr, result.length(0));
    return buffer;
}

}  // namespace

const char* get_ip_address(const char* dom_id, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr) return nullptr;
    if (!is_domain_id(dom_id)) return warn("Unable to query IP address", NOT_A_DOMAIN_ID);
    QueryConnection use(connection, QueryConnection::Opener::DbConnect,
                        "get_ip_address: Unable to connect to the mysql database");
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select ipa.ip_address from domains d, hosting h, IP_Addresses ipa "
                                       "where d.id='%s' and d.id=h.dom_id and h.ip_address_id=ipa.id",
                                       escape_sql_value(use.get(), dom_id).c_str());
    return read_value(value, use.get(), statement, fits, "Unable to query IP address");
}

const char* get_dom_param(const char* dom_id, const char* param, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || param == nullptr || !is_sql_safe(param)) return nullptr;
    if (!is_domain_id(dom_id)) return warn(format_text("Unable to query domain parameter %s", param), NOT_A_DOMAIN_ID);
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, "Unable to connect to mysql database\n");
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select val from dom_param where dom_id='%s' and param='%s'",
                                       escape_sql_value(use.get(), dom_id).c_str(),
                                       escape_sql_value(use.get(), param).c_str());
    return read_value(value, use.get(), statement, fits, format_text("Unable to query domain parameter %s", param));
}

const char* get_dom_parameter(const char* dom_id, const char* parameter, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || parameter == nullptr || !is_sql_safe(parameter)) return nullptr;
    if (!is_domain_id(dom_id))
        return warn(format_text("Unable to query domain parameter %s", parameter), NOT_A_DOMAIN_ID);
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select r.value from domains d, Parameters r \t\twhere d.id='%s' and "
                                       "d.params_id=r.id and r.parameter='%s'",
                                       escape_sql_value(use.get(), dom_id).c_str(),
                                       escape_sql_value(use.get(), parameter).c_str());
    return read_value(value, use.get(), statement, fits,
                      format_text("Unable to query domain parameter %s", parameter));
}

const char* get_dom_service_param(const char* dom_id, const char* service_type, const char* parameter,
                                  MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || service_type == nullptr || parameter == nullptr || !is_sql_safe(service_type) ||
        !is_sql_safe(parameter))
        return nullptr;
    if (!is_domain_id(dom_id))
        return warn(format_text("Unable to query domain parameter %s", parameter), NOT_A_DOMAIN_ID);
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select r.value from DomainServices s, Parameters r \t\t\t\t where "
                                       "s.dom_id='%s' and s.type='%s' and s.parameters_id=r.id  and r.parameter='%s'",
                                       escape_sql_value(use.get(), dom_id).c_str(),
                                       escape_sql_value(use.get(), service_type).c_str(),
                                       escape_sql_value(use.get(), parameter).c_str());
    return read_value(value, use.get(), statement, fits,
                      format_text("Unable to query domain parameter %s", parameter));
}

const char* get_dom_limit(const char* dom_id, const char* limit_name, MYSQL* connection) {
    static char value[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr || limit_name == nullptr || !is_sql_safe(limit_name)) return nullptr;
    if (!is_domain_id(dom_id)) return warn(format_text("Unable to query domain limit %s", limit_name), NOT_A_DOMAIN_ID);
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select l.value from domains d, Limits l \t\t\t\t where d.id='%s' and "
                                       "d.limits_id=l.id  and l.limit_name='%s'",
                                       escape_sql_value(use.get(), dom_id).c_str(),
                                       escape_sql_value(use.get(), limit_name).c_str());
    return read_value(value, use.get(), statement, fits, format_text("Unable to query domain limit %s", limit_name));
}

const char* get_dom_email(const char* dom_id, MYSQL* connection) {
    static char email[TEXT_BUFFER_SIZE];
    if (dom_id == nullptr) return nullptr;
    if (!is_domain_id(dom_id)) return warn("Unable to define clients email", NOT_A_DOMAIN_ID);
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return nullptr;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select c.email from domains d, clients c \t\t\t\t\t\t\t\t\twhere "
                                       "d.cl_id=c.id and d.id='%s'",
                                       escape_sql_value(use.get(), dom_id).c_str());
    if (read_value(email, use.get(), statement, fits, "Unable to define clients email") == nullptr) return nullptr;
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
