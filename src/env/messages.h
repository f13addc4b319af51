#ifndef VERSTALLY_ENV_MESSAGES_H
#define VERSTALLY_ENV_MESSAGES_H

/// The program's invocation path (argv[0]); messages are prefixed with its
/// base name. Not copied; null until the entry point stores it.
extern const char* program_path;

/// Formats a message, appends "\nSystem error %d: %s" when errno was set on
/// entry, and hands it to emit_error. The text is cut only when memory for
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
/// exit_code when it is non-zero.
void emit_error(const char* text, int exit_code);

/// Called by emit_error first when it is given a non-zero exit code; the
/// hook may end the process itself, and the message is then not written.
/// Lets a pending run time-out take precedence over a failure it caused.
/// Null (the default) means nothing is called.
void set_fatal_exit_hook(void (*hook)());

#endif
