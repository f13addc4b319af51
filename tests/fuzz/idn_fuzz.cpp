// The international domain name helpers on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/idn.h"
#include "env/constants.h"
#include "env/messages.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    program_path = "verstally";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The helpers take C strings: the input up to its first NUL.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const char* name = bytes.c_str();

    char* ascii = idn_toascii(name);
    if (ascii != nullptr) {
        for (const char* c = ascii; *c != '\0'; ++c) FUZZ_CHECK(static_cast<unsigned char>(*c) < 0x80);
        // The safe form agrees and does not end the process.
        char* again = idn_toascii_safe(name);
        FUZZ_CHECK(again != nullptr && std::strcmp(again, ascii) == 0);
        std::free(again);
        std::free(idn_tounicode(ascii));
        std::free(ascii);
    } else {
        FUZZ_CHECK(idn_error_text(idn_last_error) != nullptr);
    }
    std::free(idn_tounicode(name));

    // Warnings of the URL form go to memory; every one is a whole line.
    CapturedStreams streams;
    const char* url = idn_url_toascii(name);
    const std::string converted = url != nullptr ? url : "";
    const auto written = streams.release();
    FUZZ_CHECK(written.first == written.second);
    if (url == nullptr) {
        FUZZ_CHECK(!written.first.empty() && written.first.back() == '\n');
    } else {
        FUZZ_CHECK(written.first.empty());
        FUZZ_CHECK(converted.size() < TEXT_BUFFER_SIZE && !converted.empty());
        for (unsigned char c : converted) FUZZ_CHECK(c < 0x80);
    }

    int code = 0;
    std::memcpy(&code, data, size < sizeof code ? size : sizeof code);
    FUZZ_CHECK(idn_error_text(code) != nullptr);
    return 0;
}
