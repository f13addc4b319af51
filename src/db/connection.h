#ifndef VERSTALLY_DB_CONNECTION_H
#define VERSTALLY_DB_CONNECTION_H

#include <cstddef>
#include <cstdio>
#include <mysql.h>

// Implemented in: connection.cpp (db_connect, db_connect_bounded,
// open_panel_db),
// container_mode.cpp (apply_container_mode, get_run_mode,
// save_db_host_link), socket_discovery.cpp (find_mysql_socket,
// mysql_socket_from_conf).

/// Opens a connection to the panel database. The password is the content
/// of the admin password file (one trailing "\n" dropped); host, port,
/// database name and login come from ZEV_DB_HOST, ZEV_DB_PORT, ZEV_DB_NAME
/// and ZEV_DB_LOGIN, else "localhost", 0, "zev", "admin", after container
/// mode has had its say; the socket is find_mysql_socket's answer. Sends
/// "set foreign_key_checks=0" on the new connection (result ignored).
/// Returns the connection (the caller closes it with mysql_close), or null
/// with the reason in `message` (cut to `message_size`, always terminated
/// when the size is not 0). Never prints and never exits. Making the
/// connection takes at most CONNECT_BOUND_SECONDS in all.
MYSQL* db_connect(char* message, std::size_t message_size);

/// db_connect with the connection bounded by `bound_seconds` (not 0)
/// instead.
MYSQL* db_connect_bounded(char* message, std::size_t message_size, unsigned bound_seconds);

/// db_connect with a buffer of its own; on failure writes the reason as a
/// warning (emit_error, exit code 0) and returns null.
MYSQL* open_panel_db();

/// Container mode. With the marker link present, ZEV_DB_HOST defaults to
/// the link's target and, inside container N (the number at the start of
/// the identity file's first line, when not 0), ZEV_DB_NAME and
/// ZEV_DB_LOGIN default to "zevN" and "adminN"; values already present in
/// the environment are kept. Without the link, save_db_host_link runs.
/// Returns 0 when the link was read and handled, -1 when there is no link
/// or the identity file cannot be opened.
int apply_container_mode();

/// Socket path for the client library: null when MYSQL_UNIX_PORT is set and
/// not empty; else the first socket line of the [mysqld] section of
/// /etc/my.cnf when it names a socket, else /var/lib/mysql/mysql.sock, else
/// /tmp/mysql.sock when that is a socket; null when none is. A path from
/// my.cnf lies in a buffer that the next call overwrites.
const char* find_mysql_socket();

/// The my.cnf step of find_mysql_socket over an open file: the first socket
/// line of the [mysqld] section of `conf`, its value copied into `found`
/// (cut to `found_size`, terminated) when there is one. True when that
/// value names a socket.
bool mysql_socket_from_conf(FILE* conf, char* found, std::size_t found_size);

/// Run mode from ZEV_RUN_MODE: 1, 2 or 3, or 0 when it is unset. Any other
/// value (an empty one included) ends the process with
/// "unrecognized ZEV_RUNMODE".
int get_run_mode();

/// In container run mode (ZEV_RUN_MODE 3) with ZEV_DB_HOST present (even
/// empty), replaces the marker link by one whose target is ZEV_DB_HOST.
/// Failures are ignored.
void save_db_host_link();

#endif
