#include "db/idn.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <idna.h>
#include <regex.h>
#include <string>
#include <sys/types.h>

#include "env/constants.h"
#include "env/messages.h"

int idn_last_error = 0;

namespace {

// A compiled expression that is released on every way out.
class CompiledRegex {
public:
    explicit CompiledRegex(const char* pattern) : result_(regcomp(&regex_, pattern, REG_EXTENDED)) {}
    ~CompiledRegex() {
        if (result_ == 0) regfree(&regex_);
    }
    CompiledRegex(const CompiledRegex&) = delete;
    CompiledRegex& operator=(const CompiledRegex&) = delete;

    int result() const { return result_; }
    regex_t* get() { return &regex_; }

private:
    regex_t regex_;
    int result_;
};

std::string regex_error_text(int code, const regex_t* regex) {
    char text[TEXT_BUFFER_SIZE];
    regerror(code, regex, text, sizeof text);
    return text;
}

// Out of memory inside the library is fatal everywhere.
void check_allocation(int code) {
    if (code == IDNA_MALLOC_ERROR) fatal_error("Allocation failed");
}

// Runs one conversion; null with idn_last_error set on failure.
char* convert(const char* name, bool to_ascii) {
    // Only an allocation failure of this conversion may name a system
    // error.
    errno = 0;
    char* output = nullptr;
    int code = to_ascii ? idna_to_ascii_8z(name, &output, 0) : idna_to_unicode_8z8z(name, &output, 0);
    check_allocation(code);
    if (code != IDNA_SUCCESS) {
        idn_last_error = code;
        std::free(output);
        return nullptr;
    }
    return output;
}

// Appends a group of the URL; bytes outside ASCII are written as %XX, so
// that the whole URL is ASCII and still means the same.
void append_group(std::string& out, const char* text, const regmatch_t& group) {
    if (group.rm_so < 0) return;
    static const char hex[] = "0123456789ABCDEF";
    for (regoff_t i = group.rm_so; i < group.rm_eo; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
}

}  // namespace

const char* idn_error_text(int code) {
    switch (code) {
        case IDNA_SUCCESS: return "Success";
        case IDNA_STRINGPREP_ERROR: return "Stringprep error";
        case IDNA_PUNYCODE_ERROR: return "Punycode error";
        case IDNA_CONTAINS_NON_LDH: return "Contains non-LDH characters";
        case IDNA_CONTAINS_MINUS: return "Contains minus";
        case IDNA_INVALID_LENGTH: return "Invalid length";
        case IDNA_NO_ACE_PREFIX: return "ACE prefix not found";
        case IDNA_ROUNDTRIP_VERIFY_ERROR: return "Verify error";
        case IDNA_CONTAINS_ACE_PREFIX: return "ACE prefix found";
        case IDNA_ICONV_ERROR: return "Iconv error";
        case IDNA_MALLOC_ERROR: return "Cannot allocate buffer";
        default: return "Unknown error";
    }
}

char* idn_toascii(const char* name) { return convert(name, true); }

char* idn_toascii_safe(const char* name) {
    char* output = convert(name, true);
    if (output == nullptr)
        fatal_message("%s(%s) failed: %s", "idn_toascii_safe", name, idn_error_text(idn_last_error));
    return output;
}

const char* idn_url_toascii(const char* url) {
    static char result[TEXT_BUFFER_SIZE];
    if (url == nullptr) {
        warn_message("no hostname found in URL");
        return nullptr;
    }

    CompiledRegex regex(IDN_URL_PATTERN);
    if (regex.result() != 0)
        fatal_message("regcomp() failed: %s", regex_error_text(regex.result(), regex.get()).c_str());

    enum { WHOLE, SCHEME, USER, HOST, PORT, REST, GROUPS };
    regmatch_t groups[GROUPS];
    int matched = regexec(regex.get(), url, GROUPS, groups, 0);
    if (matched != 0) {
        warn_message("regexec() failed: %s", regex_error_text(matched, regex.get()).c_str());
        return nullptr;
    }
    if (groups[HOST].rm_so < 0) {
        warn_message("no hostname found in URL");
        return nullptr;
    }

    const std::string host(url + groups[HOST].rm_so, static_cast<std::size_t>(groups[HOST].rm_eo - groups[HOST].rm_so));
    char* ascii_host = convert(host.c_str(), true);
    if (ascii_host == nullptr) {
        warn_message("idn_toascii() failed: %s", idn_error_text(idn_last_error));
        return nullptr;
    }

    std::string converted;
    append_group(converted, url, groups[SCHEME]);
    append_group(converted, url, groups[USER]);
    converted += ascii_host;
    std::free(ascii_host);
    append_group(converted, url, groups[PORT]);
    append_group(converted, url, groups[REST]);

    // Cutting would hand out a different URL: refuse instead.
    if (converted.size() >= sizeof result) {
        warn_message("idn_url_toascii(): the converted URL is longer than %zu characters", sizeof result - 1);
        return nullptr;
    }
    std::snprintf(result, sizeof result, "%s", converted.c_str());
    return result;
}

char* idn_tounicode(const char* name) { return convert(name, false); }
