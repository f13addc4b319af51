#ifndef VERSTALLY_ENV_MESSAGES_H
#define VERSTALLY_ENV_MESSAGES_H

#include <string>

/// The program's invocation path (argv[0]); messages are prefixed with its
/// base name. Not copied; null until the entry point stores it.
extern const char* program_path;

/// Formats a message, appends "\nSystem error %d: %s" when errno was set on
/// entry (in place of a newline that ends the text, so that no empty line
/// comes between), and hands it to emit_error. The text is cut only when memory for
/// a longer one cannot be had. Does not return when exit_code is non-zero.
void report_error(int exit_code, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// report_error with exit code 1: reports and ends the process.
[[noreturn]] void fatal_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// A message that no failed system call caused: formatted as report_error
/// formats, but never followed by a "System error" line, whatever errno
/// holds (errno is neither read nor changed). Returns.
void warn_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// warn_message's fatal form: reports and ends the process with status 1.
[[noreturn]] void fatal_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Writes "<name>: <text>" plus a newline when missing, to standard error and
/// then standard output. The text is written literally. Ends the process with
/// exit_code when it is non-zero. A safe point comes first (env/safe_point.h):
/// a pending end of the run takes precedence over what it caused.
void emit_error(const char* text, int exit_code);

/// The bytes report_error would write on each stream for `text` and the
/// error number `error` (0: no "System error" line), for a message that a
/// child would have written had it got that far.
std::string message_line(const char* text, int error);

#endif
