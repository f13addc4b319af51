#ifndef VERSTALLY_UTIL_EXCEPTIONS_H
#define VERSTALLY_UTIL_EXCEPTIONS_H

#include <cerrno>
#include <exception>
#include <string>

namespace zev {

/// A failure with a plain message text.
class ExError : public std::exception {
public:
    explicit ExError(const std::string& message);
    ~ExError() override;
    const char* what() const noexcept override;

    std::string message;
};

/// A failed system call: the message, ": " and the system's text for the
/// error number.
class ExSystemErrorBase : public ExError {
public:
    ExSystemErrorBase(const std::string& message, int errorNumber);
    ~ExSystemErrorBase() override;
    const char* what() const noexcept override;

    std::string systemMessage;
    int errorNumber;
};

/// A failed system call with one particular error number, so that a handler
/// can catch it by class.
template <int N>
class ExSystemError : public ExSystemErrorBase {
public:
    explicit ExSystemError(const std::string& text) : ExSystemErrorBase(text, N) {}
};

extern template class ExSystemError<EPERM>;
extern template class ExSystemError<ENOENT>;
extern template class ExSystemError<EINTR>;
extern template class ExSystemError<ECHILD>;
extern template class ExSystemError<EAGAIN>;

}  // namespace zev

/// Throws the zev::ExSystemError<N> for EPERM, ENOENT, EINTR, ECHILD and EAGAIN, a
/// zev::ExSystemErrorBase for any other number. Nothing else escapes: a
/// failure while the object is built ends the process.
[[noreturn]] void throwSystemError(const std::string& message, int errorNumber);

#endif
