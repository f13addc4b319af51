// Questions about the hosted domains: values, yes/no flags, ids and names,
// and the status.
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

const char* const NO_CONNECTION = "no connection given";

using Statement = char[TEXT_BUFFER_SIZE];

/// Shared by lowercase_copy and get_dom_name.
char lowercase_buffer[TEXT_BUFFER_SIZE];

/// The skeleton of a domain getter: the id checked, the connection (the
/// caller's or a private one), the statement built by `build` (null when
/// it would not fit whole), its first value left in `buffer` ("" without a
/// row or for NULL). Null after "<what>: <reason>" on failure.
template <typename Build>
const char* read_domain_value(char (&buffer)[TEXT_BUFFER_SIZE], const char* dom_id, MYSQL* connection,
                              const char* connect_failure, const std::string& what, Build build) {
    const QueryFailure failure{what};
    if (!is_domain_id(dom_id)) {
        failure.report(NOT_A_DOMAIN_ID);
        return nullptr;
    }
    QueryConnection use(connection, connect_failure);
    if (!use.ok()) return nullptr;
    Statement text;
    if (read_first_value(use.get(), build(use.get(), text), buffer, sizeof buffer, failure) == FirstValue::Failed)
        return nullptr;
    return buffer;
}

/// 1 when `statement` (null: not built whole) gives a row, 0 when it gives
/// none; -1 after "<what>: <reason>" on failure.
int has_rows(MYSQL* db, const char* statement, const char* what) {
    char value[TEXT_BUFFER_SIZE];
    const FirstValue found = read_first_value(db, statement, value, sizeof value, {what});
    return found == FirstValue::Failed ? -1 : found == FirstValue::NoRow ? 0 : 1;
}

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
    return read_domain_value(value, dom_id, connection, DB_CONNECT_FAILURE,
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
        value, dom_id, connection, DB_CONNECT_FAILURE, format_text("Unable to query domain parameter %s", parameter),
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
    return read_domain_value(value, dom_id, connection, DB_CONNECT_FAILURE,
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
    const QueryFailure failure{"Unable to define clients email"};
    // One connection serves both questions.
    if (!is_domain_id(dom_id)) {
        failure.report(NOT_A_DOMAIN_ID);
        return nullptr;
    }
    QueryConnection use(connection);
    if (!use.ok()) return nullptr;
    Statement text;
    const char* statement = format_statement(text, sizeof text,
                                             "select c.email from domains d, clients c \t\t\t\t\t\t\t\t\twhere "
                                             "d.cl_id=c.id and d.id='%s'",
                                             escape_sql_value(use.get(), dom_id).c_str());
    if (read_first_value(use.get(), statement, email, sizeof email, failure) == FirstValue::Failed)
        return nullptr;
    if (email[0] != '\0') return email;

    // No client address: the panel's own. Its reader reports its failures.
    const char* admin = get_misc_param("admin_email", use.get());
    if (admin == nullptr || admin[0] == '\0') {
        warn_message("Unable to define admin email\n");
        return nullptr;
    }
    copy_value(email, sizeof email, admin, std::strlen(admin));
    return email;
}

int has_www_prefix(const char* dom_id, MYSQL* connection) {
    if (dom_id == nullptr) return -1;
    if (!is_domain_id(dom_id)) {
        warn_message("Unable to query www prefix: %s\n", NOT_A_DOMAIN_ID);
        return -1;
    }
    QueryConnection use(connection);
    if (!use.ok()) return -1;
    const std::string id = escape_sql_value(use.get(), dom_id);
    Statement text;
    const char* statement =
        format_statement(text, sizeof text,
                         "select * from domains dom, dns_recs dns \t\twhere dom.id='%s' and dom.id=dns.dom_id "
                         "and ((dns.type='A') or (dns.type='CNAME')) \t\tand dns.host like 'www.%%'",
                         id.c_str());
    const int records = has_rows(use.get(), statement, "Unable to query www prefix");
    if (records != 1) return records;

    // www. records that belong to a subdomain named www are no prefix.
    statement = format_statement(text, sizeof text, "select * from subdomains \t\t\twhere dom_id='%s' and name='www'",
                                 id.c_str());
    const int subdomain = has_rows(use.get(), statement, "Unable to query www subdomain");
    if (subdomain < 0) return -1;
    return subdomain == 0 ? 1 : 0;
}

int anon_ftp_enabled(const char* dom_id, MYSQL* connection) {
    if (dom_id == nullptr) return 0;
    char value[TEXT_BUFFER_SIZE];
    const char* status = read_domain_value(value, dom_id, connection, DB_CONNECT_FAILURE, "Unable to query anon_ftp",
                                           [&](MYSQL* db, Statement& statement) {
                                               return format_statement(
                                                   statement, sizeof statement,
                                                   "select a.status from domains d, anon_ftp a \t\t\t\t\t\t\t\t\twhere "
                                                   "d.id='%s' and a.dom_id=d.id",
                                                   escape_sql_value(db, dom_id).c_str());
                                           });
    return begins_with_true(status) ? 1 : 0;
}

int frontpage_enabled(const char* dom_name, int ssl, MYSQL* connection) {
    if (dom_name == nullptr || !is_sql_safe(dom_name)) return 0;
    QueryConnection use(connection);
    if (!use.ok()) return 0;
    const std::string name = escape_sql_value(use.get(), dom_name);
    Statement text;
    const char* statement =
        ssl == 0 ? format_statement(text, sizeof text,
                                    "select h.fp from domains d, hosting h \t\t\t\t\t\t\t\t\twhere d.name='%s' and "
                                    "h.dom_id=d.id",
                                    name.c_str())
                 : format_statement(text, sizeof text,
                                    "select h.fp_ssl from domains d, hosting h \t\t\t\t\t\t\t\t\twhere d.name='%s' "
                                    "and h.dom_id=d.id",
                                    name.c_str());
    char value[TEXT_BUFFER_SIZE];
    read_first_value(use.get(), statement, value, sizeof value, {"Unable to query frontpage status"});
    return begins_with_true(value) ? 1 : 0;
}

const char* get_dom_id(const char* dom_name, MYSQL* connection) {
    static char id[TEXT_BUFFER_SIZE];
    if (dom_name == nullptr || !is_sql_safe(dom_name)) return nullptr;
    const std::unique_ptr<char, void (*)(void*)> ascii(idn_toascii(dom_name), std::free);
    if (!ascii) fatal_message("idn_toascii() failed: %s", idn_error_text(idn_last_error));

    QueryConnection use(connection);
    if (!use.ok()) return nullptr;
    Statement text;
    const char* statement = format_statement(text, sizeof text, "select id from domains where name='%s'",
                                             escape_sql_value(use.get(), ascii.get()).c_str());
    // A failed query ends the process in read_first_value.
    if (read_first_value(use.get(), statement, id, sizeof id, {"Unable to query domain ID", "\n", true}) !=
        FirstValue::Found)
        fatal_message("get_dom_id(): domains record not found in DB for '%s'\n", dom_name);
    return id;
}

const char* get_dom_name(const char* dom_name) {
    if (dom_name == nullptr || !is_sql_safe(dom_name)) return nullptr;
    QueryConnection use(nullptr, DB_CONNECT_FAILURE, 1);
    if (!use.ok()) return nullptr;
    Statement text;
    const char* statement = format_statement(text, sizeof text, "select name from domains where name='%s'",
                                             escape_sql_value(use.get(), dom_name).c_str());
    // Read apart from the shared buffer, which keeps its text when there is
    // no such domain.
    char name[TEXT_BUFFER_SIZE];
    if (read_first_value(use.get(), statement, name, sizeof name,
                         {"Unable to query domain name", "\n", true}) != FirstValue::Found)
        return nullptr;
    return lowercase_copy(name);
}

const char* lowercase_copy(const char* text) {
    if (text == nullptr) return nullptr;
    copy_value(lowercase_buffer, sizeof lowercase_buffer, text, std::strlen(text));
    // A-Z only: other bytes (UTF-8 included) stay as they are.
    for (char* c = lowercase_buffer; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
    return lowercase_buffer;
}

long next_table_id(const char* table, MYSQL* connection) {
    // A table name cannot be escaped: only plain names are let through.
    if (!is_sql_identifier(table)) {
        warn_message("Unable to define max id: '%s' is not a plain table name", table != nullptr ? table : "");
        return 0;
    }
    QueryConnection use(connection);
    if (!use.ok()) return 0;
    Statement text;
    const char* statement = format_statement(text, sizeof text, "SELECT max(id) FROM %s", table);
    char largest[TEXT_BUFFER_SIZE];
    const FirstValue found =
        read_first_value(use.get(), statement, largest, sizeof largest, {"Unable to define max id", ""});
    if (found == FirstValue::Failed) return 0;
    if (found != FirstValue::Found) return 1;

    const int saved_errno = errno;
    errno = 0;
    char* end = nullptr;
    const long number = std::strtol(largest, &end, 10);
    // The next id must be a number one above the largest: no guess when
    // the largest is no number or already the last one.
    const bool has_successor = end != largest && *end == '\0' && errno != ERANGE && number != LONG_MAX;
    errno = saved_errno;
    if (!has_successor) {
        warn_message("Unable to define max id: the largest id of %s, '%s', has no successor", table, largest);
        return 0;
    }
    return number + 1;
}

int get_dom_status(const char* dom_id, unsigned* status, MYSQL* connection) {
    if (dom_id == nullptr) return -1;
    const QueryFailure failure{format_text("Unable to get status for domain with id=\"%s\"", dom_id), ""};
    const char* refused = !is_domain_id(dom_id) ? NOT_A_DOMAIN_ID : connection == nullptr ? NO_CONNECTION : nullptr;
    if (refused != nullptr) {
        failure.report(refused);
        return -1;
    }
    Statement text;
    const char* statement = format_statement(text, sizeof text, "select status from domains where id=\"%s\"",
                                             escape_sql_value(connection, dom_id).c_str());
    char value[TEXT_BUFFER_SIZE];
    const FirstValue found = read_first_value(connection, statement, value, sizeof value, failure);
    if (found == FirstValue::Failed) return -1;
    if (found == FirstValue::NoRow) {
        failure.report("such domain is not exist.");
        return -2;
    }
    unsigned number = 0;
    // A NULL status ("") is no number either.
    if (!parse_unsigned_column(value, &number)) {
        failure.report("error translate status value from char to unsigned int.");
        return -3;
    }
    if (status != nullptr) *status = number;
    return 0;
}

int set_dom_status(const char* dom_id, unsigned status, MYSQL* connection) {
    if (dom_id == nullptr) return -1;
    const char* reason = !is_domain_id(dom_id) ? NOT_A_DOMAIN_ID : connection == nullptr ? NO_CONNECTION : nullptr;
    Statement statement;
    if (reason == nullptr &&
        !format_statement(statement, sizeof statement, "update domains set status=%u where id=\"%s\"", status,
                          escape_sql_value(connection, dom_id).c_str()))
        reason = STATEMENT_TOO_LONG;
    if (reason == nullptr && mysql_real_query(connection, statement, std::strlen(statement)) != 0)
        reason = mysql_error(connection);
    if (reason == nullptr) return 0;
    warn_message("Unable to update status for domain with id=\"%s\": %s.", dom_id, reason);
    return -1;
}
