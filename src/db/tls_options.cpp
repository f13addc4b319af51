#include "db/tls_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <openssl/ssl.h>
#include <vector>

#include "env/constants.h"
#include "env/regular_file.h"

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string trimmed(const std::string& text) {
    std::size_t from = 0;
    std::size_t to = text.size();
    while (from < to && is_blank(text[from])) ++from;
    while (to > from && is_blank(text[to - 1])) --to;
    return text.substr(from, to - from);
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Cuts an unquoted '#' and what follows it.
std::string without_end_comment(const std::string& text) {
    char quote = 0;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '\'' || c == '"') && !escaped) {
            if (quote == 0)
                quote = c;
            else if (quote == c)
                quote = 0;
        }
        if (quote == 0 && c == '#') return text.substr(0, i);
        escaped = quote != 0 && c == '\\' && !escaped;
    }
    return text;
}

// A value as the option-file syntax writes it: one pair of surrounding
// quotes dropped, \n \t \r \b \s \" \' \\ replaced by what they stand for.
std::string unquoted(std::string value) {
    if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        const char next = value[++i];
        const char* const escapes = "ntrbs\"'\\";
        const char* const meanings = "\n\t\r\b \"'\\";
        const char* found = std::strchr(escapes, next);
        if (found != nullptr && next != '\0') {
            result += meanings[found - escapes];
        } else {
            result += '\\';
            result += next;
        }
    }
    return result;
}

int switch_value(const std::string& value) {
    const std::string v = lowered(value);
    return v == "0" || v == "off" || v == "false" ? 0 : 1;
}

// One option line of a group read here.
void take_option(std::string name, const bool has_value, const std::string& value, TlsOptions& options) {
    name = lowered(name);
    std::replace(name.begin(), name.end(), '_', '-');
    if (starts_with(name, "loose-")) name.erase(0, 6);
    int forced = -1;  // a switch's prefix decides its value
    const std::pair<const char*, int> prefixes[] = {{"skip-", 0}, {"disable-", 0}, {"enable-", 1}};
    for (const auto& prefix : prefixes) {
        if (starts_with(name, prefix.first)) {
            name.erase(0, std::strlen(prefix.first));
            forced = prefix.second;
            break;
        }
    }
    if (name == "ssl" || name == "ssl-verify-server-cert") {
        const int on = forced >= 0 ? forced : has_value ? switch_value(value) : 1;
        if (name == "ssl")
            options.ssl = on;
        else
            options.verify_server_cert = on != 0;
        return;
    }
    if (forced >= 0 || !has_value) return;
    const std::pair<const char*, std::string TlsOptions::*> texts[] = {
        {"ssl-ca", &TlsOptions::ca},         {"ssl-capath", &TlsOptions::capath}, {"ssl-cert", &TlsOptions::cert},
        {"ssl-key", &TlsOptions::key},       {"ssl-cipher", &TlsOptions::cipher}, {"tls-version", &TlsOptions::version},
    };
    for (const auto& text : texts)
        if (name == text.first) options.*(text.second) = value;
}

bool group_read_here(const std::string& group) {
    for (const char* name : TLS_OPTION_GROUPS)
        if (lowered(group) == name) return true;
    return false;
}

void read_file(const std::string& path, TlsOptions& options, int depth);

// "!include <file>" and "!includedir <directory>" (its *.cnf files, in
// name order).
void follow_directive(const std::string& directive, TlsOptions& options, int depth) {
    if (depth >= MAX_OPTION_FILE_DEPTH) return;
    for (const char* keyword : {"includedir", "include"}) {
        const std::size_t length = std::strlen(keyword);
        if (directive.compare(0, length, keyword) != 0 || directive.size() <= length || !is_blank(directive[length]))
            continue;
        const std::string target = trimmed(directive.substr(length));
        if (std::strcmp(keyword, "include") == 0) {
            read_file(target, options, depth + 1);
            return;
        }
        DIR* directory = opendir(target.c_str());
        if (directory == nullptr) return;
        std::vector<std::string> names;
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            const std::size_t extension = std::strlen(OPTION_FILE_EXTENSION);
            if (name.size() > extension && name.compare(name.size() - extension, extension, OPTION_FILE_EXTENSION) == 0)
                names.push_back(name);
        }
        closedir(directory);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) read_file(target + "/" + name, options, depth + 1);
        return;
    }
}

void read_file(const std::string& path, TlsOptions& options, int depth) {
    FILE* file = open_regular_stream(path.c_str());
    if (file == nullptr) return;
    bool in_group = false;
    char line[TEXT_BUFFER_SIZE];
    while (read_bounded_line(file, line, sizeof line)) {
        std::string text = trimmed(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        if (text[0] == '!') {
            follow_directive(trimmed(text.substr(1)), options, depth);
            continue;
        }
        if (text[0] == '[') {
            const std::size_t end = text.find(']');
            in_group = end != std::string::npos && group_read_here(trimmed(text.substr(1, end - 1)));
            continue;
        }
        if (!in_group) continue;
        text = trimmed(without_end_comment(text));
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos)
            take_option(text, false, "", options);
        else
            take_option(trimmed(text.substr(0, equals)), true, unquoted(trimmed(text.substr(equals + 1))), options);
    }
    std::fclose(file);
}

}  // namespace

bool TlsOptions::wanted() const {
    if (ssl >= 0) return ssl == 1;
    return verify_server_cert || !ca.empty() || !capath.empty() || !cert.empty() || !key.empty() || !cipher.empty() ||
           !version.empty();
}

void read_tls_option_file(const char* path, TlsOptions& options) { read_file(path, options, 0); }

const TlsOptions& tls_options() {
    static const TlsOptions options = [] {
        TlsOptions read;
        for (const char* path : SYSTEM_OPTION_FILES) read_tls_option_file(path, read);
        const char* home = std::getenv("HOME");
        if (home != nullptr && *home != '\0')
            read_tls_option_file((std::string(home) + HOME_OPTION_FILE).c_str(), read);
        return read;
    }();
    return options;
}

void prepare_client_library() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    // The first start of the TLS library decides what it loads; the client
    // library's own start later changes nothing.
    if (!tls_options().wanted()) OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

void apply_tls_options(MYSQL* connection) {
    const TlsOptions& options = tls_options();
    if (!options.wanted()) return;
    const std::pair<mysql_option, const std::string*> texts[] = {
        {MYSQL_OPT_SSL_CA, &options.ca},         {MYSQL_OPT_SSL_CAPATH, &options.capath},
        {MYSQL_OPT_SSL_CERT, &options.cert},     {MYSQL_OPT_SSL_KEY, &options.key},
        {MYSQL_OPT_SSL_CIPHER, &options.cipher}, {MARIADB_OPT_TLS_VERSION, &options.version},
    };
    for (const auto& text : texts)
        if (!text.second->empty()) mysql_optionsv(connection, text.first, text.second->c_str());
    const my_bool on = 1;
    const my_bool verify = options.verify_server_cert ? 1 : 0;
    mysql_optionsv(connection, MYSQL_OPT_SSL_ENFORCE, &on);
    mysql_optionsv(connection, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
}
