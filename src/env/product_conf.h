#ifndef VERSTALLY_ENV_PRODUCT_CONF_H
#define VERSTALLY_ENV_PRODUCT_CONF_H

#include <cstddef>
#include <cstdio>

#include "env/constants.h"

/// Value of `key` in the product configuration file, or null when the file
/// cannot be loaded (missing, unreadable, not a regular file) or no line
/// defines the key. Loads the file on first use;
/// the result points into a cache that lives until the process ends.
const char* get_conf_value(const char* key);

/// A configuration file's text prepared for lookups: every line feed, and
/// the whitespace before it, turned into a terminator.
struct ConfText {
    char* data = nullptr;  // size + 1 bytes (the last a terminator), malloc'd
    std::size_t size = 0;
};

/// Reads `file` to its end into `text` and prepares it; the caller releases
/// text.data with free. False (text untouched) when reading fails, memory
/// runs out or nothing was read.
bool read_conf_text(FILE* file, ConfText& text);

/// Value of `key` in `text`: the rest of the first line that starts (after
/// whitespace) with the key followed by whitespace, leading whitespace
/// skipped. Null when no line defines it or the key is null or empty.
const char* conf_text_value(const ConfText& text, const char* key);

/// Loads and checks the 23 required keys and builds the derived paths. The
/// first missing or empty key ends the process with its message. Does
/// nothing once PRODUCT_ROOT_D has been loaded.
void load_product_conf();

/// PRODUCT_ROOT_D for a routine that makes or opens paths under it, loaded
/// first when it is not yet. A value that is not an absolute path ends the
/// process (status 1, a message naming the key): files under a relative
/// root would land wherever the process was started.
const char* product_root();

// Values of the configuration keys, set by load_product_conf.
extern const char* PRODUCT_ROOT_D;
extern const char* HTTPD_VHOSTS_D;
extern const char* HTTPD_CONF_D;
extern const char* HTTPD_BIN_D;
extern const char* QMAIL_ROOT_D;
extern const char* QMAIL_MAILNAMES_D;
extern const char* FTPD_CONF;
extern const char* FTPD_CONF_INC;
extern const char* FTPD_BIN_D;
extern const char* NAMED_RUN_ROOT_D;
extern const char* WEB_STAT;
extern const char* LOGROTATE;
extern const char* MYSQL_VAR_D;
extern const char* MYSQL_BIN_D;
extern const char* PGSQL_BIN_D;
extern const char* PGSQL_DATA_D;
extern const char* MAILMAN_ROOT_D;
extern const char* MAILMAN_VAR_D;
extern const char* PRODUCT_RC_D;
extern const char* DUMP_D;
extern const char* CATALINA_HOME;
extern const char* DRWEB_ROOT_D;
extern const char* DRWEB_ETC_D;

// Paths derived from PRODUCT_ROOT_D (each cut at 4095 characters).
extern char PRODUCT_SETTINGS_FILE[TEXT_BUFFER_SIZE];
extern char DNS_UTILITY[TEXT_BUFFER_SIZE];
extern char MAIL_UTILITY[TEXT_BUFFER_SIZE];
extern char SYSUSER_UTILITY[TEXT_BUFFER_SIZE];
extern char FRONTPAGE_WRAPPER[TEXT_BUFFER_SIZE];
extern char PROTDIR_USER_RM_UTILITY[TEXT_BUFFER_SIZE];
extern char VHOST_CREATE_UTILITY[TEXT_BUFFER_SIZE];
extern char WEBSERVER_UTILITY[TEXT_BUFFER_SIZE];
extern char FORM_RM_UTILITY[TEXT_BUFFER_SIZE];
extern char INTERFACE_UTILITY[TEXT_BUFFER_SIZE];
extern char DOMAIN_UTILITY[TEXT_BUFFER_SIZE];
extern char SERVICE_CONF_UTILITY[TEXT_BUFFER_SIZE];
/// The certificates directory, allocated to its exact length.
extern char* CERTIFICATES_D;

#endif
