#ifndef VERSTALLY_TESTS_FUZZ_FUZZ_CHECK_H
#define VERSTALLY_TESTS_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

/// A property every input must keep; a broken one is a finding: the input
/// is saved by libFuzzer like any crash.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

/// While it lives, what the code under test writes to stdout and stderr goes
/// to memory instead (glibc lets a program replace its standard streams).
/// libFuzzer and the sanitizers keep writing to the real standard error:
/// they hold a stream of their own or write to descriptor 2 directly.
class CapturedStreams {
public:
    CapturedStreams() {
        std::fflush(nullptr);
        stdout = open_memstream(&text_[0], &size_[0]);
        stderr = open_memstream(&text_[1], &size_[1]);
        if (stdout == nullptr || stderr == nullptr) std::abort();
    }
    ~CapturedStreams() {
        release();
        std::free(text_[0]);
        std::free(text_[1]);
    }
    CapturedStreams(const CapturedStreams&) = delete;
    CapturedStreams& operator=(const CapturedStreams&) = delete;

    /// Ends the capture; returns what was written to stdout and stderr.
    std::pair<std::string, std::string> release() {
        if (stdout != real_[0]) {
            std::fclose(stdout);
            std::fclose(stderr);
            stdout = real_[0];
            stderr = real_[1];
        }
        return {std::string(text_[0], size_[0]), std::string(text_[1], size_[1])};
    }

private:
    FILE* real_[2] = {stdout, stderr};
    char* text_[2] = {nullptr, nullptr};
    std::size_t size_[2] = {0, 0};
};

#endif
