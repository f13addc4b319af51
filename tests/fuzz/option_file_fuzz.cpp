// MariaDB option files on arbitrary bytes, through the reader and the TLS
// settings that the connections take from it. Includes are read as if
// nested as deep as allowed, so that no input reaches the machine's files.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "db/tls_options.h"
#include "env/constants.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FILE* file = fmemopen(&bytes[0], size, "r");
    if (file == nullptr) return 0;
    set_program_option_group(TOOL_OPTION_GROUP);
    TlsOptions options;
    OptionReading reading = tls_option_reading(options);
    int last_line = 0;
    reading.take = [&](const OptionSetting& setting) {
        // Options arrive in file order, named as MariaDB's clients name them.
        FUZZ_CHECK(setting.line > last_line && setting.file == "fuzz.cnf");
        last_line = setting.line;
        for (char c : setting.name) FUZZ_CHECK(c != '_' && !std::isupper(static_cast<unsigned char>(c)));
        FUZZ_CHECK(setting.name == "" || !std::isspace(static_cast<unsigned char>(setting.name.back())));
        FUZZ_CHECK(setting.has_value || setting.value.empty());
        return options.take(setting);
    };
    const bool read = read_option_lines(file, "fuzz.cnf", MAX_OPTION_FILE_DEPTH, reading);
    std::fclose(file);
    // A failure stops the reading and names the file and the line.
    FUZZ_CHECK(read == reading.failure.empty());
    if (!read) FUZZ_CHECK(reading.failure.find("fuzz.cnf at line") != std::string::npos);
    for (const std::string& warning : reading.warnings) FUZZ_CHECK(!warning.empty());
    FUZZ_CHECK(reading.files_read == 0 && reading.chain.empty());
    // Verification asked for is never dropped.
    if (options.verify_server_cert) FUZZ_CHECK(options.wanted() && options.verified());
    return 0;
}
