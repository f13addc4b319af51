#include "env/product_conf.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "env/messages.h"
#include "env/regular_file.h"

const char* PRODUCT_ROOT_D = nullptr;
const char* HTTPD_VHOSTS_D = nullptr;
const char* HTTPD_CONF_D = nullptr;
const char* HTTPD_BIN_D = nullptr;
const char* QMAIL_ROOT_D = nullptr;
const char* QMAIL_MAILNAMES_D = nullptr;
const char* FTPD_CONF = nullptr;
const char* FTPD_CONF_INC = nullptr;
const char* FTPD_BIN_D = nullptr;
const char* NAMED_RUN_ROOT_D = nullptr;
const char* WEB_STAT = nullptr;
const char* LOGROTATE = nullptr;
const char* MYSQL_VAR_D = nullptr;
const char* MYSQL_BIN_D = nullptr;
const char* PGSQL_BIN_D = nullptr;
const char* PGSQL_DATA_D = nullptr;
const char* MAILMAN_ROOT_D = nullptr;
const char* MAILMAN_VAR_D = nullptr;
const char* PRODUCT_RC_D = nullptr;
const char* DUMP_D = nullptr;
const char* CATALINA_HOME = nullptr;
const char* DRWEB_ROOT_D = nullptr;
const char* DRWEB_ETC_D = nullptr;

char PRODUCT_SETTINGS_FILE[TEXT_BUFFER_SIZE];
char DNS_UTILITY[TEXT_BUFFER_SIZE];
char MAIL_UTILITY[TEXT_BUFFER_SIZE];
char SYSUSER_UTILITY[TEXT_BUFFER_SIZE];
char FRONTPAGE_WRAPPER[TEXT_BUFFER_SIZE];
char PROTDIR_USER_RM_UTILITY[TEXT_BUFFER_SIZE];
char VHOST_CREATE_UTILITY[TEXT_BUFFER_SIZE];
char WEBSERVER_UTILITY[TEXT_BUFFER_SIZE];
char FORM_RM_UTILITY[TEXT_BUFFER_SIZE];
char INTERFACE_UTILITY[TEXT_BUFFER_SIZE];
char DOMAIN_UTILITY[TEXT_BUFFER_SIZE];
char SERVICE_CONF_UTILITY[TEXT_BUFFER_SIZE];
char* CERTIFICATES_D = nullptr;

namespace {

// The configuration file; data is null while nothing is cached.
ConfText conf_cache;

bool is_conf_space(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

bool load_conf_file() {
    // Anything but a regular file (a FIFO would block) counts as missing.
    FILE* file = open_regular_stream(PRODUCT_CONF_FILE);
    if (file == nullptr) return false;
    const bool loaded = read_conf_text(file, conf_cache);
    std::fclose(file);
    return loaded;
}

/// How a missing key is reported: as it stands, or through report_error
/// (with the system error when errno is set), in one of its two texts.
enum class Missing { Plain, Reported, ReportedInFile };

struct ConfKey {
    const char* name;
    const char** value;
    Missing missing;
};

const ConfKey conf_keys[] = {
    {"PRODUCT_ROOT_D", &PRODUCT_ROOT_D, Missing::Plain},
    {"HTTPD_VHOSTS_D", &HTTPD_VHOSTS_D, Missing::Plain},
    {"HTTPD_CONF_D", &HTTPD_CONF_D, Missing::Plain},
    {"HTTPD_BIN_D", &HTTPD_BIN_D, Missing::Plain},
    {"QMAIL_ROOT_D", &QMAIL_ROOT_D, Missing::Plain},
    {"QMAIL_MAILNAMES_D", &QMAIL_MAILNAMES_D, Missing::Plain},
    {"FTPD_CONF", &FTPD_CONF, Missing::Plain},
    {"FTPD_CONF_INC", &FTPD_CONF_INC, Missing::Plain},
    {"FTPD_BIN_D", &FTPD_BIN_D, Missing::ReportedInFile},
    {"NAMED_RUN_ROOT_D", &NAMED_RUN_ROOT_D, Missing::Plain},
    {"WEB_STAT", &WEB_STAT, Missing::Plain},
    {"LOGROTATE", &LOGROTATE, Missing::Plain},
    {"MYSQL_VAR_D", &MYSQL_VAR_D, Missing::Plain},
    {"MYSQL_BIN_D", &MYSQL_BIN_D, Missing::Reported},
    {"PGSQL_BIN_D", &PGSQL_BIN_D, Missing::Plain},
    {"PGSQL_DATA_D", &PGSQL_DATA_D, Missing::Plain},
    {"MAILMAN_ROOT_D", &MAILMAN_ROOT_D, Missing::Plain},
    {"MAILMAN_VAR_D", &MAILMAN_VAR_D, Missing::Plain},
    {"PRODUCT_RC_D", &PRODUCT_RC_D, Missing::Plain},
    {"DUMP_D", &DUMP_D, Missing::Plain},
    {"CATALINA_HOME", &CATALINA_HOME, Missing::Plain},
    {"DRWEB_ROOT_D", &DRWEB_ROOT_D, Missing::Plain},
    {"DRWEB_ETC_D", &DRWEB_ETC_D, Missing::Plain},
};

[[noreturn]] void report_missing(const ConfKey& key) {
    if (key.missing == Missing::ReportedInFile) fatal_error("Error: %s not defined in product config file", key.name);
    if (key.missing == Missing::Reported) fatal_error("Error: %s not defined\n", key.name);
    fatal_message("Error: %s not defined\n", key.name);
}

void derive_path(char* target, const char* file_name) {
    std::snprintf(target, TEXT_BUFFER_SIZE, "%s%s%s", PRODUCT_ROOT_D, UTILITIES_DIR_SUFFIX, file_name);
}

}  // namespace

bool read_conf_text(FILE* file, ConfText& text) {
    std::size_t capacity = READ_CHUNK_SIZE;
    std::size_t size = 0;
    char* data = static_cast<char*>(std::malloc(capacity));
    while (data != nullptr) {
        size += std::fread(data + size, 1, capacity - size - 1, file);
        if (size + 1 < capacity) break;
        char* grown = static_cast<char*>(std::realloc(data, 2 * capacity));
        if (grown == nullptr) std::free(data);
        data = grown;
        capacity *= 2;
    }
    if (data == nullptr || std::ferror(file) || size == 0) {
        std::free(data);
        return false;
    }
    data[size] = '\0';
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        data[i] = '\0';
        for (std::size_t j = i; j > 0 && data[j - 1] != '\0' && is_conf_space(data[j - 1]); --j)
            data[j - 1] = '\0';
    }
    text.data = data;
    text.size = size;
    return true;
}

const char* conf_text_value(const ConfText& text, const char* key) {
    if (key == nullptr || text.data == nullptr) return nullptr;
    const std::size_t key_len = std::strlen(key);
    const char* p = text.data;
    const char* end = text.data + text.size;
    while (p < end) {
        while (p < end && is_conf_space(*p)) ++p;
        if (p >= end) break;
        // The data ends in a terminator, so strncmp stays inside it.
        if (key_len > 0 && std::strncmp(p, key, key_len) == 0 && is_conf_space(p[key_len])) {
            const char* value = p + key_len;
            while (value < end && is_conf_space(*value)) ++value;
            return value;
        }
        const void* terminator = std::memchr(p, '\0', static_cast<std::size_t>(end - p));
        if (terminator == nullptr) break;
        p = static_cast<const char*>(terminator) + 1;
    }
    return nullptr;
}

const char* get_conf_value(const char* key) {
    if (key == nullptr) return nullptr;
    if (conf_cache.data == nullptr && !load_conf_file()) return nullptr;
    return conf_text_value(conf_cache, key);
}

const char* product_root() {
    load_product_conf();
    if (PRODUCT_ROOT_D[0] != '/') fatal_message("Error: PRODUCT_ROOT_D is not an absolute path: %s", PRODUCT_ROOT_D);
    return PRODUCT_ROOT_D;
}

void load_product_conf() {
    if (PRODUCT_ROOT_D != nullptr) return;

    for (const ConfKey& key : conf_keys) {
        const char* value = get_conf_value(key.name);
        if (value == nullptr || value[0] == '\0') report_missing(key);
        *key.value = value;
    }

    std::snprintf(PRODUCT_SETTINGS_FILE, TEXT_BUFFER_SIZE, "%s%s", PRODUCT_ROOT_D, SETTINGS_FILE_SUFFIX);
    derive_path(DNS_UTILITY, DNS_UTILITY_NAME);
    derive_path(MAIL_UTILITY, MAIL_UTILITY_NAME);
    derive_path(SYSUSER_UTILITY, SYSUSER_UTILITY_NAME);
    derive_path(FRONTPAGE_WRAPPER, FRONTPAGE_WRAPPER_NAME);
    derive_path(PROTDIR_USER_RM_UTILITY, PROTDIR_USER_RM_UTILITY_NAME);
    derive_path(VHOST_CREATE_UTILITY, VHOST_CREATE_UTILITY_NAME);
    derive_path(WEBSERVER_UTILITY, WEBSERVER_UTILITY_NAME);
    derive_path(FORM_RM_UTILITY, FORM_RM_UTILITY_NAME);
    derive_path(INTERFACE_UTILITY, INTERFACE_UTILITY_NAME);
    derive_path(DOMAIN_UTILITY, DOMAIN_UTILITY_NAME);
    derive_path(SERVICE_CONF_UTILITY, SERVICE_CONF_UTILITY_NAME);

    std::size_t cert_len = std::strlen(PRODUCT_ROOT_D) + std::strlen(CERTIFICATES_DIR_SUFFIX);
    CERTIFICATES_D = static_cast<char*>(std::malloc(cert_len + 1));
    if (CERTIFICATES_D != nullptr)
        std::snprintf(CERTIFICATES_D, cert_len + 1, "%s%s", PRODUCT_ROOT_D, CERTIFICATES_DIR_SUFFIX);
}
