#ifndef VERSTALLY_DB_CONNECTION_H
#define VERSTALLY_DB_CONNECTION_H

#include <cstddef>
#include <mysql.h>

/// Opens a connection to the panel database. The password is the content
/// of the admin password file (one trailing "\n" dropped); host, port,
/// database name and login come from ZEV_DB_HOST, ZEV_DB_PORT, ZEV_DB_NAME
/// and ZEV_DB_LOGIN, else "localhost", 0, "zev", "admin", after container
/// mode has had its say; the socket is find_mysql_socket's answer; TLS is
/// what the option files set (db/tls_options.h). When they want TLS, a
/// connection the server did not encrypt is closed before any statement
/// and fails with NO_TLS_REFUSAL. Sends "set foreign_key_checks=0" on the
/// new connection (result ignored).
/// Returns the connection (the caller closes it with close_connection, or
/// leaves it to process exit), or null with the reason in `message` (cut
/// to `message_size`, always terminated when the size is not 0); errno
/// then holds the system's reason where there is one (a password file that
/// cannot be read, a connection refused or timed out) and 0 where the
/// server, the client library or the option files refused. Never exits;
/// prints nothing but the option files' warnings, once per process, when
/// it first reads them. Making the connection takes at most
/// CONNECT_BOUND_SECONDS in all.
MYSQL* db_connect(char* message, std::size_t message_size);

/// db_connect with the connection bounded by `bound_seconds` (not 0)
/// instead.
MYSQL* db_connect_bounded(char* message, std::size_t message_size, unsigned bound_seconds);

/// db_connect with a buffer of its own; on failure writes the reason as a
/// warning (emit_error, exit code 0) and returns null, errno as db_connect
/// left it.
MYSQL* open_panel_db();

/// Closes a connection db_connect made, with the client's goodbye to the
/// server. Every connection not closed so is closed that way when the
/// process that made it exits (std::exit, or a return from main), never by
/// a forked child of it. Null is ignored.
void close_connection(MYSQL* connection);

#endif
