#ifndef VERSTALLY_TESTS_FUZZ_CAPTURED_STREAMS_H
#define VERSTALLY_TESTS_FUZZ_CAPTURED_STREAMS_H

#include <cstdio>
#include <cstdlib>
#include <string>

/// While it lives, what the code under test writes to stdout and stderr goes
/// to memory instead (glibc lets a program replace its standard streams).
/// libFuzzer and the sanitizers keep writing to the real standard error:
/// they hold a stream of their own or write to descriptor 2 directly.
class CapturedStreams {
public:
    CapturedStreams() : out_(stdout), err_(stderr) {
        std::fflush(nullptr);
        stdout = open_memstream(&outText_, &outSize_);
        stderr = open_memstream(&errText_, &errSize_);
        if (stdout == nullptr || stderr == nullptr) std::abort();
    }
    ~CapturedStreams() {
        release();
        std::free(outText_);
        std::free(errText_);
    }
    CapturedStreams(const CapturedStreams&) = delete;
    CapturedStreams& operator=(const CapturedStreams&) = delete;

    /// Ends the capture; returns what was written to stdout and stderr.
    std::pair<std::string, std::string> release() {
        if (stdout != out_) {
            std::fclose(stdout);
            std::fclose(stderr);
            stdout = out_;
            stderr = err_;
        }
        return {std::string(outText_, outSize_), std::string(errText_, errSize_)};
    }

private:
    FILE* out_;
    FILE* err_;
    char* outText_ = nullptr;
    char* errText_ = nullptr;
    std::size_t outSize_ = 0;
    std::size_t errSize_ = 0;
};

#endif
