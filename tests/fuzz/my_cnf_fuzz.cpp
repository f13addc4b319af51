// The MySQL server configuration's socket line on arbitrary bytes, through
// the same scan that reads /etc/my.cnf.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "db/socket_discovery.h"
#include "env/constants.h"
#include "fuzz_check.h"

namespace {

void scan(std::string bytes, std::size_t found_size) {
    FILE* file = fmemopen(&bytes[0], bytes.size(), "r");
    if (file == nullptr) return;
    // On the heap and exactly as large as promised, so that a write past
    // its end is caught.
    std::vector<char> found(found_size, '\x7f');
    const bool taken = mysql_socket_from_conf(file, found.data(), found.size());
    std::fclose(file);
    const char* end = static_cast<const char*>(std::memchr(found.data(), '\0', found.size()));
    if (taken) FUZZ_CHECK(end != nullptr && end != found.data());
    if (end == nullptr) return;  // untouched: no socket line was found
    for (const char* c = found.data(); c < end; ++c) FUZZ_CHECK(!std::isspace(static_cast<unsigned char>(*c)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    scan(bytes, TEXT_BUFFER_SIZE);
    // A smaller buffer, sized by the first byte, cuts the value.
    scan(bytes, 1 + data[0] % 32);
    return 0;
}
