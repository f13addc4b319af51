#include "util/exceptions.h"

#include <cerrno>
#include <cstring>

namespace zev {

ExError::ExError(const std::string& text) : message(text) {}
ExError::~ExError() = default;
const char* ExError::what() const noexcept { return message.c_str(); }

ExSystemErrorBase::ExSystemErrorBase(const std::string& text, int number)
    : ExError(text), systemMessage(text + ": " + std::strerror(number)), errorNumber(number) {}
ExSystemErrorBase::~ExSystemErrorBase() = default;
const char* ExSystemErrorBase::what() const noexcept { return systemMessage.c_str(); }

template class ExSystemError<EPERM>;
template class ExSystemError<ENOENT>;
template class ExSystemError<EINTR>;
template class ExSystemError<ECHILD>;
template class ExSystemError<EAGAIN>;

}  // namespace zev

namespace {

// Built inside a noexcept function: an exception while building (memory
// running out) ends the process instead of escaping in place of the error.
template <class E>
E build(const std::string& message) noexcept {
    return E(message);
}

zev::ExSystemErrorBase buildBase(const std::string& message, int errorNumber) noexcept {
    return zev::ExSystemErrorBase(message, errorNumber);
}

}  // namespace

void throwSystemError(const std::string& message, int errorNumber) {
    switch (errorNumber) {
        case EPERM: throw build<zev::ExSystemError<EPERM>>(message);
        case ENOENT: throw build<zev::ExSystemError<ENOENT>>(message);
        case EINTR: throw build<zev::ExSystemError<EINTR>>(message);
        case ECHILD: throw build<zev::ExSystemError<ECHILD>>(message);
        case EAGAIN: throw build<zev::ExSystemError<EAGAIN>>(message);
        default: throw buildBase(message, errorNumber);
    }
}
