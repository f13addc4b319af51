// Yes/no questions about a domain: www prefix, anonymous FTP, FrontPage.
#include "db/domain_queries.h"

#include <string>

#include "db/param_store.h"
#include "db/query_result.h"
#include "db/statement.h"
#include "env/constants.h"
#include "env/messages.h"

namespace {

const char* const CONNECT_FAILURE = DB_CONNECT_FAILURE;

enum class Answer { HasRows, BeginsWithTrue };

/// Runs `statement` (`fits` false when it could not be built whole) and
/// answers 1 or 0: whether it returns rows, or whether its first row's
/// first column begins with "true". -1 after "<what>: <reason>" on failure.
int ask(MYSQL* db, const char* statement, bool fits, const char* what, Answer answer) {
    if (!fits) {
        warn_null(std::string(what) + ": " + STATEMENT_TOO_LONG + "\n");
        return -1;
    }
    QueryResult result(db, statement);
    if (!result.ok()) {
        warn_null(std::string(what) + ": " + result.reason() + "\n");
        return -1;
    }
    MYSQL_ROW row = result.next_row();
    if (answer == Answer::HasRows) return row != nullptr ? 1 : 0;
    return row != nullptr && begins_with_true(row[0]) ? 1 : 0;
}

/// The yes/no answer of `statement`; a failure counts as no.
int value_is_true(MYSQL* db, const char* statement, bool fits, const char* what) {
    return ask(db, statement, fits, what, Answer::BeginsWithTrue) == 1 ? 1 : 0;
}

}  // namespace

int has_www_prefix(const char* dom_id, MYSQL* connection) {
    if (dom_id == nullptr) return -1;
    if (!is_domain_id(dom_id)) {
        warn_null(std::string("Unable to query www prefix: ") + NOT_A_DOMAIN_ID + "\n");
        return -1;
    }
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return -1;
    const std::string id = escape_sql_value(use.get(), dom_id);
    char statement[TEXT_BUFFER_SIZE];
    bool fits = format_statement(statement, sizeof statement,
                                 "select * from domains dom, dns_recs dns \t\twhere dom.id='%s' and dom.id=dns.dom_id "
                                 "and ((dns.type='A') or (dns.type='CNAME')) \t\tand dns.host like 'www.%%'",
                                 id.c_str());
    const int records = ask(use.get(), statement, fits, "Unable to query www prefix", Answer::HasRows);
    if (records != 1) return records;

    // www. records that belong to a subdomain named www are no prefix.
    fits = format_statement(statement, sizeof statement,
                            "select * from subdomains \t\t\twhere dom_id='%s' and name='www'", id.c_str());
    const int subdomain = ask(use.get(), statement, fits, "Unable to query www subdomain", Answer::HasRows);
    if (subdomain < 0) return -1;
    return subdomain == 0 ? 1 : 0;
}

int anon_ftp_enabled(const char* dom_id, MYSQL* connection) {
    if (dom_id == nullptr) return 0;
    if (!is_domain_id(dom_id)) {
        warn_null(std::string("Unable to query anon_ftp: ") + NOT_A_DOMAIN_ID + "\n");
        return 0;
    }
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return 0;
    char statement[TEXT_BUFFER_SIZE];
    const bool fits = format_statement(statement, sizeof statement,
                                       "select a.status from domains d, anon_ftp a \t\t\t\t\t\t\t\t\twhere "
                                       "d.id='%s' and a.dom_id=d.id",
                                       escape_sql_value(use.get(), dom_id).c_str());
    return value_is_true(use.get(), statement, fits, "Unable to query anon_ftp");
}

int frontpage_enabled(const char* dom_name, int ssl, MYSQL* connection) {
    if (dom_name == nullptr || !is_sql_safe(dom_name)) return 0;
    QueryConnection use(connection, QueryConnection::Opener::DbConnect, CONNECT_FAILURE);
    if (!use.ok()) return 0;
    const std::string name = escape_sql_value(use.get(), dom_name);
    char statement[TEXT_BUFFER_SIZE];
    const bool fits =
        ssl == 0 ? format_statement(statement, sizeof statement,
                                    "select h.fp from domains d, hosting h \t\t\t\t\t\t\t\t\twhere d.name='%s' and "
                                    "h.dom_id=d.id",
                                    name.c_str())
                 : format_statement(statement, sizeof statement,
                                    "select h.fp_ssl from domains d, hosting h \t\t\t\t\t\t\t\t\twhere d.name='%s' "
                                    "and h.dom_id=d.id",
                                    name.c_str());
    return value_is_true(use.get(), statement, fits, "Unable to query frontpage status");
}
