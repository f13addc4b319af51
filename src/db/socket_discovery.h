#ifndef VERSTALLY_DB_SOCKET_DISCOVERY_H
#define VERSTALLY_DB_SOCKET_DISCOVERY_H

// Where the local database server listens.

#include <cstddef>
#include <cstdio>
#include <string>
#include <sys/types.h>

/// Socket path for the client library: null when MYSQL_UNIX_PORT is set and
/// not empty; else the first socket line of the [mysqld] section of
/// /etc/my.cnf when it names a socket, else /var/lib/mysql/mysql.sock, else
/// /tmp/mysql.sock when that is a socket; null when none is. Only a socket
/// owned by root, MYSQL_SERVER_ACCOUNT or the process's own user counts,
/// and a symbolic link in its place is followed only when one of them owns
/// it (any other is passed over with a warning). A path from my.cnf lies in
/// a buffer that the next call overwrites.
const char* find_mysql_socket();

/// Whether `uid` is root, MYSQL_SERVER_ACCOUNT or the process's own user:
/// the accounts the database server's socket may belong to. errno is kept.
bool is_server_account(uid_t uid);

/// For the connected socket `fd` of a new connection: true over TCP; over a
/// Unix socket, true only when the process listening at the other end runs
/// as an account is_server_account accepts (the kernel's SO_PEERCRED, so
/// that no name swapped after it was looked at counts). False with the
/// reason in `refusal`.
bool socket_peer_trusted(int fd, std::string& refusal);

/// The my.cnf step of find_mysql_socket over an open file: the first socket
/// line of the [mysqld] section of `conf`, its value copied into `found`
/// (cut to `found_size`, terminated) when there is one. True when that
/// value names a socket that find_mysql_socket may take.
bool mysql_socket_from_conf(FILE* conf, char* found, std::size_t found_size);

#endif
