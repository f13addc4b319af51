#ifndef VERSTALLY_DB_QUERY_RESULT_H
#define VERSTALLY_DB_QUERY_RESULT_H

// One statement sent and its result set held, and the one routine that
// reads a first value through it.

#include <cstddef>
#include <mysql.h>
#include <string>

/// Sends a statement on construction and keeps its result set until the
/// object ends.
class QueryResult {
public:
    /// Sends `statement` (whole) on `connection` and stores the result set.
    QueryResult(MYSQL* connection, const char* statement);
    ~QueryResult();
    QueryResult(const QueryResult&) = delete;
    QueryResult& operator=(const QueryResult&) = delete;

    /// True when the statement ran and gave a result set.
    bool ok() const { return result_ != nullptr; }
    /// True when the server took the statement (whatever its result set).
    bool sent() const { return sent_; }
    /// Number of rows of the result set (0 without one).
    my_ulonglong rows() const { return result_ != nullptr ? mysql_num_rows(result_) : 0; }
    /// Why there is no result set: the server's text, or a note that the
    /// statement gave none.
    const std::string& reason() const { return reason_; }

    /// The next row, null after the last one (or without result set).
    MYSQL_ROW next_row();
    /// Length in bytes of `column` of the row last returned.
    std::size_t length(unsigned column) const;

private:
    bool sent_ = false;
    MYSQL_RES* result_ = nullptr;
    MYSQL_ROW row_ = nullptr;
    std::string reason_;
};

/// A query routine's failure message: "<what>: <reason>" followed by `end`
/// (emit_error adds the newline where `end` has none). Never carries a
/// system error: what failed is the statement, not a system call.
struct QueryFailure {
    std::string what;
    const char* end = "\n";
    /// Ends the process with status 1 instead of warning.
    bool fatal = false;

    /// Says the message for `reason` (warn_message, or fatal_message).
    void report(const std::string& reason) const;
};

/// What read_first_value found.
enum class FirstValue { Failed, NoRow, Null, Found };

/// Sends `statement` on `connection` and copies the first column of its
/// first row into `buffer` of `size` bytes (not 0; cut at size - 1, always
/// terminated). The buffer holds "" unless the answer is Found. A null
/// `statement` is one that could not be built whole: it is not sent, and
/// fails with STATEMENT_TOO_LONG. On failure `failure` is reported with
/// the reason (a fatal one does not return).
FirstValue read_first_value(MYSQL* connection, const char* statement, char* buffer, std::size_t size,
                            const QueryFailure& failure);

/// Copies `length` bytes of `value` into `buffer` of `size` bytes (not 0),
/// cut at `size` - 1 and always terminated; a null value gives "".
void copy_value(char* buffer, std::size_t size, const char* value, std::size_t length);

/// True when `value` is not null and its first four characters are "true".
bool begins_with_true(const char* value);

#endif
