#ifndef VERSTALLY_DB_TLS_OPTIONS_H
#define VERSTALLY_DB_TLS_OPTIONS_H

#include <mysql.h>
#include <string>

// TLS for the panel database connections, set where MariaDB's own clients
// take it from: the option files /etc/my.cnf, /etc/mysql/my.cnf and
// ~/.my.cnf, in that order, with what their "!include" and "!includedir"
// lines name, in the groups [client], [client-server], [client-mariadb]
// and [verstally] (the last for this tool alone). A later setting replaces
// an earlier one. Only these settings are taken, nothing else of those
// groups: ssl, ssl-ca, ssl-capath, ssl-cert, ssl-key, ssl-cipher,
// tls-version and ssl-verify-server-cert ('_' for '-' and a "loose-"
// prefix alike; the two switches bare, as 1/0, on/off or true/false, or
// with "skip-", "disable-" or "enable-" in front).

/// The TLS settings read from the option files.
struct TlsOptions {
    /// ssl as given: -1 not given, 0 off, 1 on.
    int ssl = -1;
    bool verify_server_cert = false;
    std::string ca;
    std::string capath;
    std::string cert;
    std::string key;
    std::string cipher;
    std::string version;

    /// Whether the connections use TLS: ssl on, or a certificate, key,
    /// cipher, version or verification given without ssl turned off.
    bool wanted() const;
};

/// Reads the settings of the option file `path` (and of what it includes)
/// over `options`. A file that is missing or not a regular file is passed
/// over, as are lines that are no option of a group read here.
void read_tls_option_file(const char* path, TlsOptions& options);

/// The settings of the option files, read at the first call.
const TlsOptions& tls_options();

/// Before the client library's first connection handle: reads the option
/// files, and starts the TLS library without loading its configuration
/// file unless TLS is wanted (the configuration only matters to TLS, and
/// loading it is a large share of a short run). Idempotent.
void prepare_client_library();

/// Gives a new connection handle the TLS settings, when TLS is wanted. It
/// is then required: a connection never falls back to plain text.
void apply_tls_options(MYSQL* connection);

#endif
