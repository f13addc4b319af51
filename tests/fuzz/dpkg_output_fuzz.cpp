// dpkg-query's output, as the update run reads it, on arbitrary bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "components/deb_version_getter.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const vonta::DpkgRecords records = vonta::parseDpkgOutput(text);

    // Each record takes three lines, so there are at most a third of the
    // lines (rounded up) of them.
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    FUZZ_CHECK(records.size() <= (lines + 2) / 3);
    for (const auto& record : records) {
        const std::string& status = record.second.first;
        const std::string& version = record.second.second;
        FUZZ_CHECK(record.first.find('\n') == std::string::npos);
        FUZZ_CHECK(status.find('\n') == std::string::npos && status.find(' ') == std::string::npos);
        FUZZ_CHECK(version.find('\n') == std::string::npos);
        FUZZ_CHECK(record.first.size() + status.size() + version.size() <= size);
    }
    return 0;
}
