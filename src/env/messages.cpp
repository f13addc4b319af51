#include "env/messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libgen.h>
#include <string>

#include "env/constants.h"
#include "env/safe_point.h"

const char* program_path = nullptr;

namespace {

// The line as it goes to each stream: "<name>: " when the program path is
// known, the text, a newline when the text lacks one (an empty text still
// makes one line).
std::string compose_line(const char* text, std::size_t length) {
    std::string line;
    if (program_path != nullptr) {
        // basename() may modify its argument: work on a copy.
        char path_copy[TEXT_BUFFER_SIZE];
        std::snprintf(path_copy, sizeof path_copy, "%s", program_path);
        line = basename(path_copy);
        line += ": ";
    }
    line.append(text, length);
    if (length == 0 || text[length - 1] != '\n') line += '\n';
    return line;
}

std::string system_error_suffix(int error) {
    char suffix[TEXT_BUFFER_SIZE];
    std::snprintf(suffix, sizeof suffix, "\nSystem error %d: %s", error, std::strerror(error));
    return suffix;
}

}  // namespace

void emit_error(const char* text, int exit_code) {
    // A pending request to end the run takes precedence over what it caused.
    safe_point();
    if (text == nullptr) text = "";
    const std::string line = compose_line(text, std::strlen(text));
    for (FILE* stream : {stderr, stdout}) {
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fflush(stream);
    }
    if (exit_code != 0) std::exit(exit_code);
}

std::string message_line(const char* text, int error) {
    std::string whole = text != nullptr ? text : "";
    if (error != 0 && !whole.empty() && whole.back() == '\n') whole.pop_back();
    if (error != 0) whole += system_error_suffix(error);
    return compose_line(whole.data(), whole.size());
}

namespace {

// Formats the message and, when `error` is not 0, appends "\nSystem error
// %d: %s" for it; hands the text to emit_error. errno is left as it was.
__attribute__((format(printf, 3, 0))) void say_v(int exit_code, int error, const char* format, va_list args) {
    const int saved_errno = errno;

    std::size_t capacity = TEXT_BUFFER_SIZE;
    char* buffer = static_cast<char*>(std::malloc(capacity));
    if (buffer == nullptr) {
        emit_error("Can't allocate memory for error message", exit_code);
        errno = saved_errno;
        return;
    }

    va_list retry;
    va_copy(retry, args);
    int formatted = std::vsnprintf(buffer, capacity, format, args);
    std::size_t length = formatted < 0 ? 0 : static_cast<std::size_t>(formatted);
    bool complete = true;
    if (formatted < 0) {
        buffer[0] = '\0';
    } else if (length >= capacity) {
        char* grown = static_cast<char*>(std::realloc(buffer, length + 1));
        if (grown != nullptr) {
            buffer = grown;
            capacity = length + 1;
            std::vsnprintf(buffer, capacity, format, retry);
        } else {
            length = capacity - 1;  // the cut text is what the buffer holds
            complete = false;
        }
    }
    va_end(retry);

    if (error != 0) {
        // The "System error" line follows the text's own line directly: a
        // text that ends in a newline must not leave an empty line between.
        if (length > 0 && buffer[length - 1] == '\n') --length;
        const std::string suffix = system_error_suffix(error);
        std::size_t needed = length + suffix.size() + 1;
        if (complete && needed > capacity) {
            char* grown = static_cast<char*>(std::realloc(buffer, needed));
            if (grown != nullptr) {
                buffer = grown;
                capacity = needed;
            }
        }
        // Whatever does not fit after a failed growth is dropped.
        std::snprintf(buffer + length, capacity - length, "%s", suffix.c_str());
    }

    errno = saved_errno;
    emit_error(buffer, exit_code);
    std::free(buffer);
    errno = saved_errno;
}

}  // namespace

void report_error(int exit_code, const char* format, ...) {
    const int error = errno;
    va_list args;
    va_start(args, format);
    say_v(exit_code, error, format, args);
    va_end(args);
}

void fatal_error(const char* format, ...) {
    const int error = errno;
    va_list args;
    va_start(args, format);
    say_v(1, error, format, args);
    va_end(args);
    std::exit(1);  // not reached: a fatal report ends the process
}

void warn_message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    say_v(0, 0, format, args);
    va_end(args);
}

void fatal_message(const char* format, ...) {
    va_list args;
    va_start(args, format);
    say_v(1, 0, format, args);
    va_end(args);
    std::exit(1);  // not reached: a fatal report ends the process
}
