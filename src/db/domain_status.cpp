// A domain's status: read and set on the caller's connection.
#include "db/domain_queries.h"

#include <string>

#include "db/param_store.h"
#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

const char* const NO_CONNECTION = "no connection given";

int status_failure(int result, const char* dom_id, const std::string& reason) {
    emit_error(format_text("Unable to get status for domain with id=\"%s\": %s", dom_id, reason.c_str()).c_str(), 0);
    return result;
}

}  // namespace

int get_dom_status(const char* dom_id, unsigned* status, MYSQL* connection) {
    if (dom_id == nullptr) return -1;
    if (!is_domain_id(dom_id)) return status_failure(-1, dom_id, NOT_A_DOMAIN_ID);
    if (connection == nullptr) return status_failure(-1, dom_id, NO_CONNECTION);
    char statement[TEXT_BUFFER_SIZE];
    if (!format_statement(statement, sizeof statement, "select status from domains where id=\"%s\"",
                          escape_sql_value(connection, dom_id).c_str()))
        return status_failure(-1, dom_id, STATEMENT_TOO_LONG);
    QueryResult result(connection, statement);
    if (!result.ok()) return status_failure(-1, dom_id, result.reason());
    MYSQL_ROW row = result.next_row();
    if (row == nullptr) return status_failure(-2, dom_id, "such domain is not exist.");
    unsigned value = 0;
    // A NULL status is no number either.
    if (!parse_unsigned_column(row[0], &value))
        return status_failure(-3, dom_id, "error translate status value from char to unsigned int.");
    if (status != nullptr) *status = value;
    return 0;
}

int set_dom_status(const char* dom_id, unsigned status, MYSQL* connection) {
    if (dom_id == nullptr) return -1;
    auto failure = [dom_id](const char* reason) {
        emit_error(format_text("Unable to update status for domain with id=\"%s\": %s.", dom_id, reason).c_str(), 0);
        return -1;
    };
    if (!is_domain_id(dom_id)) return failure(NOT_A_DOMAIN_ID);
    if (connection == nullptr) return failure(NO_CONNECTION);
    char statement[TEXT_BUFFER_SIZE];
    if (!format_statement(statement, sizeof statement, "update domains set status=%u where id=\"%s\"", status,
                          escape_sql_value(connection, dom_id).c_str()))
        return failure(STATEMENT_TOO_LONG);
    if (mysql_real_query(connection, statement, std::char_traits<char>::length(statement)) != 0)
        return failure(mysql_error(connection));
    return 0;
}
