#ifndef VERSTALLY_DB_PARAM_STORE_H
#define VERSTALLY_DB_PARAM_STORE_H

#include <mysql.h>

// Name/value parameters of the panel database: misc (panel-wide),
// dom_param (per domain) and Parameters (numbered sets).
//
// Every routine takes the connection as its last argument. When it is
// null, the routine opens a private connection for the one call and closes
// it before returning. Failures are written as warnings (both streams,
// exit code 0) and signalled by the result; nothing here ends the process.

/// Runs `statement` and returns the first column of its first row, cut at
/// 4095 characters, or "" when there is no row or the value is NULL. The
/// text lies in one static buffer shared by all readers here, valid until
/// the next reader call. Null on failure (no connection, a server error, or
/// a statement without result set), after a message.
const char* query_single_value(const char* statement, MYSQL* connection = nullptr);

/// "select <selected_column> from <table> where <key_column>='<key_value>'"
/// through query_single_value. The key value is escaped, so it is compared
/// literally; table and column names must be plain identifiers.
const char* get_value_by_key(const char* key_value, const char* table, const char* key_column,
                             const char* selected_column, MYSQL* connection = nullptr);

/// The htype of the domain with id `dom_id`. A refused id: null after
/// "Unable to query htype from domains: <NOT_A_DOMAIN_ID>".
const char* get_dom_htype(const char* dom_id, MYSQL* connection = nullptr);

/// The val of misc parameter `param`.
const char* get_misc_param(const char* param, MYSQL* connection = nullptr);

// Writers: 0 on success, -1 on failure. A name or value that fails
// is_sql_safe (or a missing required argument) gives -1 at once, without a
// message and without touching the database. Ids are escaped instead; a
// domain id that is_domain_id refuses gives -1 after the writer's message,
// without touching the database.

/// Stores misc parameter `param` with `val`; with `val` null, a row with
/// only param set.
int put_misc_param(const char* param, const char* val, MYSQL* connection = nullptr);
/// Stores parameter `param` of domain `dom_id`.
int put_dom_param(const char* dom_id, const char* param, const char* val, MYSQL* connection = nullptr);
/// Stores `parameter` of parameter set `id`.
int put_parameter(const char* id, const char* parameter, const char* value, MYSQL* connection = nullptr);
/// Removes misc parameter `param`.
int delete_misc_param(const char* param, MYSQL* connection = nullptr);
/// Removes parameter `param` of domain `dom_id`.
int delete_dom_param(const char* dom_id, const char* param, MYSQL* connection = nullptr);
/// Removes `parameter` of set `id`; with `value` given, only when it holds
/// that value.
int delete_parameter(const char* id, const char* parameter, const char* value, MYSQL* connection = nullptr);

/// True when `text` is null or holds none of '"', '\'' and '\\'.
bool is_sql_safe(const char* text);

/// Reads `text` as a value of an INT UNSIGNED column: decimal digits only
/// (no sign, space or other byte), at most 4294967295. False when it is
/// null, empty or anything else; `value` is then left alone.
bool parse_unsigned_column(const char* text, unsigned* value);

/// True when `dom_id` can be a domain id as the domain tables hold it
/// (parse_unsigned_column). Ids go into statements as quoted text that the
/// server converts by its own number rules, so "1abc" or "1' or '1'='1"
/// would name domain 1: every routine taking a domain id refuses anything
/// else, with its failure message filled with NOT_A_DOMAIN_ID.
bool is_domain_id(const char* dom_id);

/// Reason given when a domain id is refused.
extern const char* const NOT_A_DOMAIN_ID;

#endif
