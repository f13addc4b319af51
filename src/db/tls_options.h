#ifndef VERSTALLY_DB_TLS_OPTIONS_H
#define VERSTALLY_DB_TLS_OPTIONS_H

#include <mysql.h>
#include <string>

#include "db/option_files.h"

// TLS for the panel database connections, set where MariaDB's own clients
// take it from: the option files /etc/my.cnf, /etc/mysql/my.cnf and
// ~/.my.cnf, in that order, read and trusted as db/option_files.h says, in
// the groups [client], [client-server], [client-mariadb] and the
// program's own group. Only the TLS settings are taken: ssl, ssl-ca,
// ssl-capath, ssl-cert, ssl-key, ssl-cipher, ssl-crl, ssl-crlpath,
// tls-version and ssl-verify-server-cert (the two switches bare, as 1/0,
// on/off or true/false, or with "skip-", "disable-" or "enable-" in
// front). They apply in file order, as MariaDB's clients apply them:
//  1. ssl turns TLS on or off; any later file, cipher or version setting
//     turns it on again;
//  2. verification on means TLS, whatever ssl says: a verification asked
//     for is never dropped;
//  3. any other ssl-* or tls-* key is passed over with a warning.
// The server's certificate is verified (its chain against ssl-ca or
// ssl-capath, else the system's store; and the host name) when
// verification is on and whenever a CA is given, so that both client
// library releases in use check the same: 3.4 checks the host name
// against a CA even with verification off, 3.3 does not.
//
// Where the client library is 3.4 or later (Debian 13), the connections do
// what that release's own client does when no setting says otherwise:
//  4. a connection over TCP uses TLS unless a setting says whether to
//     (skip-ssl, ssl=0 being the way out); the local socket stays as it is;
//  5. TLS that no setting said not to verify is verified by the client
//     library: against the CA or the system's store, else by the
//     certificate's fingerprint, which the server proves with the login
//     exchange. A server that offers no TLS, or whose certificate cannot
//     be verified, fails the connection.
// The 3.3 library (Debian 12) cannot check the fingerprint, and its own
// client uses no TLS by default: with it nothing is used that no setting
// asks for. Which library it is, is asked at run time: the binary may run
// against either (the same soname), and the check it leans on is the
// running library's.

/// The TLS settings read from the option files.
struct TlsOptions {
    /// TLS asked for, as the settings so far leave it.
    bool ssl = false;
    bool verify_server_cert = false;
    std::string ca;
    std::string capath;
    std::string cert;
    std::string key;
    std::string cipher;
    std::string version;
    std::string crl;
    std::string crlpath;
    /// Whether a setting said whether to use TLS (ssl, or a file, cipher or
    /// version setting), and whether one said whether to verify.
    bool ssl_said = false;
    bool verify_said = false;

    /// Whether the connections must use TLS: asked for, or verification on.
    bool wanted() const { return ssl || verify_server_cert; }
    /// Whether the server's certificate is verified: verification on, or a
    /// CA given.
    bool verified() const;
    /// Applies one setting over the earlier ones; returns a warning to say
    /// ("" when none).
    std::string take(const OptionSetting& setting);
};

/// How one connection uses the settings (see 4 and 5 above).
struct TlsUse {
    /// TLS or no connection.
    bool required = false;
    /// Required though no setting asked for it.
    bool by_default = false;
    /// The client library verifies the server's certificate.
    bool library_verifies = false;
};

/// The use of `options` by a connection over TCP (`tcp`) or the local
/// socket, with the client library that is running.
TlsUse tls_use(const TlsOptions& options, bool tcp);

/// Names the program's own option group, read besides the client groups
/// (null: none). Takes effect when set before the first connection.
void set_program_option_group(const char* group);

/// A reading that applies the options of the client groups and the
/// program's own group to `options` (which must outlive it).
OptionReading tls_option_reading(TlsOptions& options);

/// The settings of the option files, read at the first call; their
/// warnings are said then (warn_message). Null, with the reason in
/// `failure`, when a file is broken, and while the first reading is still
/// underway (a time-out that struck in it cannot have it).
const TlsOptions* tls_options(std::string& failure);

/// Every file the settings name is a regular file (ssl-capath and
/// ssl-crlpath: a directory), so that none can stall or mislead the client
/// library; false with the reason, naming the setting and the path.
bool check_tls_files(const TlsOptions& options, std::string& failure);

/// Before the client library's first connection handle: starts the TLS
/// library without loading its configuration file unless TLS is required
/// (the configuration only matters to TLS, and loading it is a large share
/// of a short run). Only the first call counts.
void prepare_client_library(bool tls_required);

/// Gives a new connection handle the settings. When TLS is required, it is
/// asked for, and verification is set explicitly either way, so that every
/// client library release checks the same.
void apply_tls_options(MYSQL* connection, const TlsOptions& options, const TlsUse& use);

/// After the connection is made, before any statement: why it must not be
/// used (NO_TLS_REFUSAL or DEFAULT_TLS_REFUSAL: TLS required and not used;
/// UNVERIFIED_TLS_REFUSAL: a certificate that a setting wanted verified
/// and did not verify), or null.
const char* tls_refusal(MYSQL* connection, const TlsOptions& options, const TlsUse& use);

#endif
