#include "env/env_values.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

const char* env_value_or_null(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

unsigned env_unsigned(const char* name, unsigned long max) {
    const char* value = std::getenv(name);
    if (value == nullptr) return 0;
    while (std::isspace(static_cast<unsigned char>(*value))) ++value;
    // strtoul would turn "-1" into the largest number.
    if (!std::isdigit(static_cast<unsigned char>(*value))) return 0;
    const int saved_errno = errno;
    errno = 0;
    unsigned long number = std::strtoul(value, nullptr, 10);
    const bool out_of_range = errno == ERANGE || number > UINT_MAX || number > max;
    errno = saved_errno;
    return out_of_range ? 0 : static_cast<unsigned>(number);
}
