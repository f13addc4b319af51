#include "util/exceptions.h"

#include <cstring>

namespace zev {

ExError::ExError(const std::string& message) : message(message) {}
ExError::~ExError() = default;
const char* ExError::what() const noexcept { return message.c_str(); }

ExSystemErrorBase::ExSystemErrorBase(const std::string& message, int errorNumber)
    : ExError(message), systemMessage(message + ": " + std::strerror(errorNumber)), errorNumber(errorNumber) {}
ExSystemErrorBase::~ExSystemErrorBase() = default;
const char* ExSystemErrorBase::what() const noexcept { return systemMessage.c_str(); }

template class ExSystemError<1>;
template class ExSystemError<2>;
template class ExSystemError<4>;
template class ExSystemError<10>;
template class ExSystemError<11>;

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
        case 1: throw build<zev::ExSystemError<1>>(message);
        case 2: throw build<zev::ExSystemError<2>>(message);
        case 4: throw build<zev::ExSystemError<4>>(message);
        case 10: throw build<zev::ExSystemError<10>>(message);
        case 11: throw build<zev::ExSystemError<11>>(message);
        default: throw buildBase(message, errorNumber);
    }
}
