#ifndef VERSTALLY_ENV_ENV_VALUES_H
#define VERSTALLY_ENV_ENV_VALUES_H

// Reading the connection routine's environment variables.

#include <climits>

/// The variable's value, or null when it is unset or empty.
const char* env_value_or_null(const char* name);

/// The variable's value as an unsigned decimal number (leading blanks
/// allowed, trailing text ignored); 0 when it is unset, empty, not a
/// number, negative or above `max` (at most the range of unsigned int).
unsigned env_unsigned(const char* name, unsigned long max = UINT_MAX);

#endif
