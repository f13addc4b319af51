#include "db/query_result.h"

#include <cstring>

#include "db/statement.h"
#include "env/messages.h"

QueryResult::QueryResult(MYSQL* connection, const char* statement) {
    if (mysql_real_query(connection, statement, std::strlen(statement)) != 0) {
        reason_ = mysql_error(connection);
        return;
    }
    sent_ = true;
    result_ = mysql_store_result(connection);
    if (result_ == nullptr)
        reason_ = mysql_errno(connection) != 0 ? mysql_error(connection) : "the statement returned no result set";
}

QueryResult::~QueryResult() {
    if (result_ != nullptr) mysql_free_result(result_);
}

MYSQL_ROW QueryResult::next_row() {
    row_ = result_ != nullptr ? mysql_fetch_row(result_) : nullptr;
    return row_;
}

std::size_t QueryResult::length(unsigned column) const {
    if (row_ == nullptr || column >= mysql_num_fields(result_)) return 0;
    const unsigned long* lengths = mysql_fetch_lengths(result_);
    if (lengths != nullptr) return lengths[column];
    return row_[column] != nullptr ? std::strlen(row_[column]) : 0;
}

void QueryFailure::report(const std::string& reason) const {
    if (fatal) fatal_message("%s: %s%s", what.c_str(), reason.c_str(), end);
    warn_message("%s: %s%s", what.c_str(), reason.c_str(), end);
}

FirstValue read_first_value(MYSQL* connection, const char* statement, char* buffer, std::size_t size,
                            const QueryFailure& failure) {
    buffer[0] = '\0';
    if (statement == nullptr) {
        failure.report(STATEMENT_TOO_LONG);
        return FirstValue::Failed;
    }
    QueryResult result(connection, statement);
    if (!result.ok()) {
        failure.report(result.reason());
        return FirstValue::Failed;
    }
    MYSQL_ROW row = result.next_row();
    if (row == nullptr) return FirstValue::NoRow;
    if (row[0] == nullptr) return FirstValue::Null;
    copy_value(buffer, size, row[0], result.length(0));
    return FirstValue::Found;
}

void copy_value(char* buffer, std::size_t size, const char* value, std::size_t length) {
    if (size == 0) return;
    if (value == nullptr) length = 0;
    if (length > size - 1) length = size - 1;
    if (length > 0) std::memcpy(buffer, value, length);
    buffer[length] = '\0';
}

bool begins_with_true(const char* value) { return value != nullptr && std::strncmp(value, "true", 4) == 0; }
