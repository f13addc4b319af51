// The message formatter with arbitrary text, program path and errno; exit
// code 0, so that it returns.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <libgen.h>
#include <string>

#include "env/constants.h"
#include "env/messages.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Layout: 4 bytes of errno, then the program path up to a NUL, then the
    // text (which may hold more NULs).
    int error = 0;
    const std::size_t head = size < sizeof error ? size : sizeof error;
    std::memcpy(&error, data, head);
    const std::string rest(reinterpret_cast<const char*>(data) + head, size - head);
    const std::size_t cut = rest.find('\0');
    const std::string path = cut == std::string::npos ? "" : rest.substr(0, cut);
    const std::string text = cut == std::string::npos ? rest : rest.substr(cut + 1);

    program_path = cut == std::string::npos ? nullptr : path.c_str();
    // The name shown is basename() of the path as far as the formatter
    // keeps it.
    std::string kept = path.substr(0, TEXT_BUFFER_SIZE - 1);
    const char* shown = program_path != nullptr ? basename(kept.data()) : nullptr;

    // What one call wrote: the same text on both streams, ending in a line
    // feed, prefixed with the program's name when there is one.
    const auto written = [&](const std::function<void()>& call) {
        CapturedStreams streams;
        errno = error;
        call();
        const auto both = streams.release();
        FUZZ_CHECK(both.first == both.second);
        FUZZ_CHECK(!both.second.empty() && both.second.back() == '\n');
        if (shown != nullptr)
            FUZZ_CHECK(both.second.compare(0, std::strlen(shown) + 2, std::string(shown) + ": ") == 0);
        return both.second;
    };
    const std::string reported = written([&] { report_error(0, "%s", text.c_str()); });
    FUZZ_CHECK(reported.find(text.c_str()) != std::string::npos);
    if (error != 0) FUZZ_CHECK(reported.find("\nSystem error " + std::to_string(error) + ": ") != std::string::npos);
    // Texts longer than the first buffer take the growing path.
    written([&] { report_error(0, "%s|%s|%s|%d", text.c_str(), text.c_str(), path.c_str(), error); });
    FUZZ_CHECK(written([&] { emit_error(text.c_str(), 0); }).find(text.c_str()) != std::string::npos);
    written([] { emit_error(nullptr, 0); });
    program_path = nullptr;
    return 0;
}
