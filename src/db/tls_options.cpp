#include "db/tls_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include "env/constants.h"
#include "env/messages.h"

namespace {

const char* program_group = nullptr;

// The first client library release whose own client uses TLS by default
// and verifies a certificate without a CA by its fingerprint.
constexpr unsigned long TLS_BY_DEFAULT_CLIENT_VERSION = 30400;

// The first reading of the option files, kept for the process.
enum class Stage { Unread, Underway, Done };
Stage stage = Stage::Unread;
TlsOptions settings;
std::string reading_failure;

// The settings that name a file (or, when `directory`, a directory).
struct FileSetting {
    const char* name;
    std::string TlsOptions::*value;
    bool directory;
};
const FileSetting FILE_SETTINGS[] = {
    {"ssl-ca", &TlsOptions::ca, false},       {"ssl-capath", &TlsOptions::capath, true},
    {"ssl-cert", &TlsOptions::cert, false},   {"ssl-key", &TlsOptions::key, false},
    {"ssl-crl", &TlsOptions::crl, false},     {"ssl-crlpath", &TlsOptions::crlpath, true},
};
const std::pair<const char*, std::string TlsOptions::*> OTHER_TEXT_SETTINGS[] = {
    {"ssl-cipher", &TlsOptions::cipher},
    {"tls-version", &TlsOptions::version},
};

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

int switch_value(const std::string& value) {
    std::string v = value;
    for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return v == "0" || v == "off" || v == "false" ? 0 : 1;
}

std::string* text_setting(TlsOptions& options, const std::string& name) {
    for (const auto& setting : FILE_SETTINGS)
        if (name == setting.name) return &(options.*setting.value);
    for (const auto& setting : OTHER_TEXT_SETTINGS)
        if (name == setting.first) return &(options.*setting.second);
    return nullptr;
}

}  // namespace

std::string TlsOptions::take(const OptionSetting& setting) {
    std::string name = setting.name;
    int forced = -1;  // a switch's prefix decides its value
    const std::pair<const char*, int> prefixes[] = {{"skip-", 0}, {"disable-", 0}, {"enable-", 1}};
    for (const auto& prefix : prefixes) {
        if (starts_with(name, prefix.first)) {
            name.erase(0, std::strlen(prefix.first));
            forced = prefix.second;
            break;
        }
    }
    const std::string where = " in config file " + setting.file + " at line " + std::to_string(setting.line);
    if (name == "ssl" || name == "ssl-verify-server-cert") {
        const bool on = (forced >= 0 ? forced : setting.has_value ? switch_value(setting.value) : 1) != 0;
        (name == "ssl" ? ssl : verify_server_cert) = on;
        (name == "ssl" ? ssl_said : verify_said) = true;
        return "";
    }
    if (std::string* text = text_setting(*this, name)) {
        if (forced >= 0 || !setting.has_value)
            return "TLS setting '" + setting.name + "'" + where + " is ignored: it needs a value";
        *text = setting.value;
        ssl = true;
        ssl_said = true;
        return "";
    }
    if (starts_with(name, "ssl-") || starts_with(name, "tls-"))
        return "Unknown TLS setting '" + setting.name + "'" + where + " is ignored";
    return "";
}

void set_program_option_group(const char* group) { program_group = group; }

OptionReading tls_option_reading(TlsOptions& options) {
    OptionReading reading;
    for (const char* group : CLIENT_OPTION_GROUPS) reading.groups.push_back(group);
    if (program_group != nullptr) reading.groups.push_back(program_group);
    reading.take = [&options](const OptionSetting& setting) { return options.take(setting); };
    return reading;
}

const TlsOptions* tls_options(std::string& failure) {
    if (stage == Stage::Underway) {
        failure = "the option files are still being read";
        return nullptr;
    }
    if (stage == Stage::Unread) {
        stage = Stage::Underway;
        TlsOptions read;
        OptionReading reading = tls_option_reading(read);
        bool ok = true;
        for (const char* path : SYSTEM_OPTION_FILES) ok = ok && read_option_file(path, reading);
        const char* home = std::getenv("HOME");
        if (ok && home != nullptr && *home != '\0')
            read_option_file(std::string(home) + HOME_OPTION_FILE, reading);
        settings = read;
        reading_failure = reading.failure;
        // Done before the warnings are said: a time-out acted on there
        // counts itself on a connection made with these settings.
        stage = Stage::Done;
        for (const std::string& warning : reading.warnings) warn_message("%s", warning.c_str());
    }
    if (!reading_failure.empty()) {
        failure = reading_failure;
        return nullptr;
    }
    return &settings;
}

bool check_tls_files(const TlsOptions& options, std::string& failure) {
    if (!options.wanted()) return true;
    for (const auto& setting : FILE_SETTINGS) {
        const std::string& path = options.*setting.value;
        if (path.empty()) continue;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            failure = std::string("TLS setting ") + setting.name + " names '" + path + "': " + std::strerror(errno);
            return false;
        }
        if (setting.directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
            failure = std::string("TLS setting ") + setting.name + " names '" + path + "', which is not a " +
                      (setting.directory ? "directory" : "regular file");
            return false;
        }
    }
    return true;
}

void prepare_client_library(bool tls_required) {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    // The first start of the TLS library decides what it loads; the client
    // library's own start later changes nothing.
    if (!tls_required) OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

bool TlsOptions::verified() const { return verify_server_cert || !ca.empty() || !capath.empty(); }

TlsUse tls_use(const TlsOptions& options, bool tcp) {
    const bool as_its_client = mysql_get_client_version() >= TLS_BY_DEFAULT_CLIENT_VERSION;
    TlsUse use;
    use.by_default = as_its_client && tcp && !options.ssl_said && !options.wanted();
    use.required = options.wanted() || use.by_default;
    use.library_verifies = options.verified() || (as_its_client && use.required && !options.verify_said);
    return use;
}

void apply_tls_options(MYSQL* connection, const TlsOptions& options, const TlsUse& use) {
    if (!use.required) return;
    const std::pair<mysql_option, const std::string*> texts[] = {
        {MYSQL_OPT_SSL_CA, &options.ca},         {MYSQL_OPT_SSL_CAPATH, &options.capath},
        {MYSQL_OPT_SSL_CERT, &options.cert},     {MYSQL_OPT_SSL_KEY, &options.key},
        {MYSQL_OPT_SSL_CIPHER, &options.cipher}, {MARIADB_OPT_TLS_VERSION, &options.version},
        {MYSQL_OPT_SSL_CRL, &options.crl},       {MYSQL_OPT_SSL_CRLPATH, &options.crlpath},
    };
    for (const auto& text : texts)
        if (!text.second->empty()) mysql_optionsv(connection, text.first, text.second->c_str());
    const my_bool on = 1;
    const my_bool verify = use.library_verifies ? 1 : 0;
    mysql_optionsv(connection, MYSQL_OPT_SSL_ENFORCE, &on);
    mysql_optionsv(connection, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
}

const char* tls_refusal(MYSQL* connection, [[maybe_unused]] const TlsOptions& options, const TlsUse& use) {
    if (!use.required) return nullptr;
    if (mysql_get_ssl_cipher(connection) == nullptr) return use.by_default ? DEFAULT_TLS_REFUSAL : NO_TLS_REFUSAL;
#if MARIADB_PACKAGE_VERSION_ID >= 30400
    // The 3.4 client library lets a certificate that did not verify pass
    // on a connection it deems local (127.0.0.1, ::1, localhost), saying
    // so only here. (So does a certificate it took by its fingerprint,
    // which only a setting's verification against a CA or the system's
    // store refuses.)
    unsigned int status = 0;
    if (options.verified() && (mariadb_get_infov(connection, MARIADB_TLS_VERIFY_STATUS, &status) != 0 ||
                               status != MARIADB_TLS_VERIFY_OK))
        return UNVERIFIED_TLS_REFUSAL;
#endif
    return nullptr;
}
