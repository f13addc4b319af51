// The product configuration file on arbitrary bytes, read and searched by
// the same routines as the real file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "env/product_conf.h"
#include "fuzz_check.h"

namespace {

bool isConfSpace(char c) { return c != '\0' && std::strchr(" \t\v\f\r\n", c) != nullptr; }

// A value is found only after its key, which starts a line (after
// whitespace) and is followed by whitespace; the value starts with none.
void checkLookup(const ConfText& text, const char* key) {
    const char* value = conf_text_value(text, key);
    if (value == nullptr) return;
    const std::size_t key_len = std::strlen(key);
    FUZZ_CHECK(key_len > 0);
    FUZZ_CHECK(value > text.data && value <= text.data + text.size);
    FUZZ_CHECK(!isConfSpace(value[0]));
    const char* p = value;
    while (p > text.data && isConfSpace(p[-1])) --p;
    FUZZ_CHECK(p < value && p - text.data >= static_cast<std::ptrdiff_t>(key_len));
    p -= key_len;
    FUZZ_CHECK(std::strncmp(p, key, key_len) == 0);
    while (p > text.data && isConfSpace(p[-1])) --p;
    FUZZ_CHECK(p == text.data || p[-1] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // fmemopen may write through its buffer: hand it a copy.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FILE* file = fmemopen(&bytes[0], size, "r");
    if (file == nullptr) return 0;
    ConfText text;
    const bool read = read_conf_text(file, text);
    std::fclose(file);
    FUZZ_CHECK(read);
    FUZZ_CHECK(text.size == size && text.data[size] == '\0');
    // No line feed is left, and what stands before a terminator is no
    // whitespace.
    FUZZ_CHECK(std::memchr(text.data, '\n', size) == nullptr);

    // The keys the tool asks for, the empty key, and a key taken from the
    // input itself (its first word), so that lookups also succeed.
    for (const char* key : {"PRODUCT_ROOT_D", "MYSQL_BIN_D", "FTPD_BIN_D", "DRWEB_ETC_D", ""}) checkLookup(text, key);
    std::size_t word = 0;
    while (word < size && word < 64 && !isConfSpace(bytes[word]) && bytes[word] != '\0') ++word;
    checkLookup(text, bytes.substr(0, word).c_str());
    FUZZ_CHECK(conf_text_value(text, nullptr) == nullptr);
    std::free(text.data);
    return 0;
}
