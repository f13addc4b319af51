#ifndef VERSTALLY_TESTS_FUZZ_FUZZ_CHECK_H
#define VERSTALLY_TESTS_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

/// A property every input must keep; a broken one is a finding: the input
/// is saved by libFuzzer like any crash.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

#endif
