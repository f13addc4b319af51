#ifndef VERSTALLY_DB_DOMAIN_QUERIES_H
#define VERSTALLY_DB_DOMAIN_QUERIES_H

#include <mysql.h>

// Questions about the hosted domains, one statement each.
//
// The connection is the last argument. When it is null, the routine opens
// a private connection for the one call (open_panel_db) and closes it before
// returning; when that fails, the reason and then the routine's connection
// text are written as warnings and the failure result is returned.
//
// Ids are passed as text. Every value placed between quotes is escaped for
// the connection in use. Arguments called "checked" below are refused when
// they hold a quote, a double quote or a backslash (is_sql_safe): the
// routine then returns its failure result at once, without a message and
// without touching the database. A null argument is refused the same way.
// A domain id must be decimal digits that fit the id columns
// (is_domain_id): any other id gives the routine's failure message, filled
// with NOT_A_DOMAIN_ID, and its failure result, without touching the
// database.
//
// Text results point to a static buffer of the routine's own (4095
// characters at most), valid until its next call; "" means no row or a
// NULL value, null means failure. A statement that would exceed 4095
// characters is not sent: that is a failure with the routine's message.
// Messages are warnings (both streams, exit code 0) unless said fatal.

/// The IP address of the domain with id `dom_id` (through its hosting
/// row). Failure: "Unable to query IP address: <reason>".
const char* get_ip_address(const char* dom_id, MYSQL* connection = nullptr);

/// Reads the status of domain `dom_id` into `status` (left alone unless 0
/// is returned; may be null). The connection is required. Returns 0; -1
/// when the id is refused, the query fails or no connection is given; -2
/// when there is no such domain; -3 when the status is NULL or not an
/// unsigned number. Each failure writes "Unable to get status for domain
/// with id="<id>": ...".
int get_dom_status(const char* dom_id, unsigned* status, MYSQL* connection);

/// Sets the status of domain `dom_id`; the connection is required. 0, or
/// -1 after "Unable to update status for domain with id="<id>": <reason>.".
int set_dom_status(const char* dom_id, unsigned status, MYSQL* connection);

/// Per-domain parameter `param` (checked) from dom_param.
/// Failure: "Unable to query domain parameter <param>: <reason>".
const char* get_dom_param(const char* dom_id, const char* param, MYSQL* connection = nullptr);

/// `parameter` (checked) of the domain's parameter set (domains.params_id).
/// Failure: "Unable to query domain parameter <parameter>: <reason>".
const char* get_dom_parameter(const char* dom_id, const char* parameter, MYSQL* connection = nullptr);

/// `parameter` (checked) of the parameter set of the domain's service of
/// type `service_type` (checked).
/// Failure: "Unable to query domain parameter <parameter>: <reason>".
const char* get_dom_service_param(const char* dom_id, const char* service_type, const char* parameter,
                                  MYSQL* connection = nullptr);

/// Limit `limit_name` (checked) of the domain's limit set.
/// Failure: "Unable to query domain limit <limit_name>: <reason>".
const char* get_dom_limit(const char* dom_id, const char* limit_name, MYSQL* connection = nullptr);

/// 1 when the domain has an A or CNAME record for a "www." host and no
/// subdomain named www, 0 otherwise; -1 after a message when a query fails.
int has_www_prefix(const char* dom_id, MYSQL* connection = nullptr);

/// 1 when the domain's anon_ftp status begins with "true", else 0 (also
/// without a row, and after a message on failure).
int anon_ftp_enabled(const char* dom_id, MYSQL* connection = nullptr);

/// 1 when FrontPage (with `ssl` non-zero: FrontPage over SSL) is switched
/// on for the domain named `dom_name` (checked), i.e. its value begins with
/// "true"; else 0 (also after a message on failure).
int frontpage_enabled(const char* dom_name, int ssl, MYSQL* connection = nullptr);

/// The e-mail of the domain's client, or when that is NULL or empty the
/// panel's admin_email. Null after "Unable to define clients email:
/// <reason>" or "Unable to define admin email".
const char* get_dom_email(const char* dom_id, MYSQL* connection = nullptr);

/// The id of the domain named `dom_name` (checked), looked up by its ASCII
/// (IDNA) form. Fatal (exit status 1): a name that does not convert, a
/// failed query, no such domain. Null when the name is refused or no
/// private connection could be opened.
const char* get_dom_id(const char* dom_name, MYSQL* connection = nullptr);

/// The stored name of the domain named `dom_name` (checked), lower-cased,
/// in the buffer of lowercase_copy; null when there is no such domain or
/// the name is refused. Always opens its own connection; failing to, or a
/// failed query, is fatal (exit status 1).
const char* get_dom_name(const char* dom_name);

/// One more than the largest id in `table`; 1 when the table is empty.
/// `table` must be a plain table name (is_sql_identifier). Failure: 0
/// after "Unable to define max id: <reason>".
long next_table_id(const char* table, MYSQL* connection = nullptr);

/// `text` with A-Z lowered (other bytes kept), cut at 4095 characters, in
/// a static buffer shared with get_dom_name; null when `text` is null.
const char* lowercase_copy(const char* text);

#endif
