#include "db/connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <errmsg.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "db/connection_wait.h"
#include "db/container_mode.h"
#include "db/socket_discovery.h"
#include "db/tls_options.h"
#include "env/constants.h"
#include "env/env_values.h"
#include "env/file_trust.h"
#include "env/messages.h"
#include "env/regular_file.h"
#include "env/user_lookup.h"

namespace {

// The host for which the client library goes through the local socket; any
// other goes over TCP.
constexpr const char* LOCAL_SOCKET_HOST = "localhost";

/// Judges the opened password file by what fstat said of it, as a private
/// key is judged: one that others than root (or the user the process runs
/// as) can write is refused, with the reason in `message`; one that is not
/// theirs, or that others can read, is used after a warning (said once per
/// process) naming the file, its owner and its mode. Existing panels may
/// keep the file readable by a group, so reading alone does not refuse it.
bool password_file_trusted(const struct stat& st, char* message, std::size_t message_size) {
    const bool own = trusted_owner(st.st_uid);
    const unsigned mode = st.st_mode & 07777;
    if (writable_by_others(st) || (!own && (st.st_mode & S_IWUSR) != 0)) {
        std::snprintf(message, message_size,
                      "db_connect: Admin password file %s can be written by others than root (owner %s, mode %04o) "
                      "and is not used",
                      ADMIN_PASSWORD_FILE, user_name_of(st.st_uid), mode);
        return false;
    }
    static bool warned = false;
    if (!warned && (!own || (st.st_mode & (S_IRGRP | S_IROTH)) != 0)) {
        warned = true;
        warn_message("Admin password file %s can be read by others than root (owner %s, mode %04o)",
                     ADMIN_PASSWORD_FILE, user_name_of(st.st_uid), mode);
    }
    return true;
}

/// The password file's content (one read of at most 4096 bytes, one
/// trailing "\n" dropped) in `password`; false with the reason in `message`.
bool read_password(char (&password)[TEXT_BUFFER_SIZE + 1], char* message, std::size_t message_size) {
    // A path that holds no regular file (a FIFO would block the read) is
    // there but cannot be read as a password file.
    bool refused = false;
    int fd = open_regular_file(ADMIN_PASSWORD_FILE, O_RDONLY, 0, &refused);
    if (fd < 0) {
        std::snprintf(message, message_size,
                      refused ? "db_connect: Unable to read admin password file %s: %s"
                              : "db_connect: Unable to open admin password file %s: %s",
                      ADMIN_PASSWORD_FILE, std::strerror(errno));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int saved_errno = errno;
        close(fd);
        std::snprintf(message, message_size, "db_connect: Unable to read admin password file %s: %s",
                      ADMIN_PASSWORD_FILE, std::strerror(saved_errno));
        errno = saved_errno;
        return false;
    }
    if (!password_file_trusted(st, message, message_size)) {
        close(fd);
        errno = 0;
        return false;
    }
    ssize_t length;
    do {
        length = read(fd, password, TEXT_BUFFER_SIZE);
    } while (length < 0 && errno == EINTR);
    if (length < 0) {
        const int saved_errno = errno;
        close(fd);
        std::snprintf(message, message_size, "db_connect: Unable to read admin password file %s: %s",
                      ADMIN_PASSWORD_FILE, std::strerror(saved_errno));
        return false;
    }
    close(fd);
    if (length > 0 && password[length - 1] == '\n') --length;
    password[length] = '\0';
    return true;
}

// The connections db_connect made and nobody closed yet, of the process
// that made them: closed (with the client's goodbye) when it exits, so
// that no server counts them as aborted. A forked child inherits the list
// but never closes what is on it: its goodbye would end the parent's
// sessions.
std::vector<MYSQL*> open_connections;
pid_t connections_owner = 0;

void close_open_connections() {
    if (getpid() != connections_owner) return;
    while (!open_connections.empty()) {
        MYSQL* last = open_connections.back();
        open_connections.pop_back();
        mysql_close(last);
    }
}

void remember_connection(MYSQL* connection) {
    static bool exit_hook_set = false;
    if (connections_owner != getpid()) {
        open_connections.clear();
        connections_owner = getpid();
    }
    // Set after the TLS library has set its own, so it runs before that.
    if (!exit_hook_set) exit_hook_set = std::atexit(close_open_connections) == 0;
    open_connections.push_back(connection);
}

}  // namespace

MYSQL* db_connect(char* message, std::size_t message_size) {
    return db_connect_bounded(message, message_size, CONNECT_BOUND_SECONDS);
}

MYSQL* db_connect_bounded(char* message, std::size_t message_size, unsigned bound_seconds) {
    // snprintf with size 0 writes nothing, so a missing buffer is harmless.
    char ignored[1];
    if (message == nullptr) {
        message = ignored;
        message_size = sizeof ignored;
    }
    if (message_size > 0) message[0] = '\0';

    char password[TEXT_BUFFER_SIZE + 1];
    if (!read_password(password, message, message_size)) return nullptr;

    apply_container_mode();

    const char* host = env_value_or_null(ENV_DB_HOST);
    if (host == nullptr) host = DEFAULT_DB_HOST;
    const unsigned port = env_unsigned(ENV_DB_PORT, MAX_DB_PORT);
    const char* database = env_value_or_null(ENV_DB_NAME);
    if (database == nullptr) database = DEFAULT_DB_NAME;
    const char* login = env_value_or_null(ENV_DB_LOGIN);
    if (login == nullptr) login = DEFAULT_DB_LOGIN;

    const char* socket = find_mysql_socket();
    // The client library reads MYSQL_UNIX_PORT only once, when it is first
    // initialised; passing the value makes the variable's current value
    // count, also after the environment has changed.
    if (socket == nullptr) socket = env_value_or_null(ENV_MYSQL_UNIX_PORT);

    std::string tls_failure;
    const TlsOptions* tls = tls_options(tls_failure);
    if (tls == nullptr || !check_tls_files(*tls, tls_failure)) {
        std::snprintf(message, message_size, "db_connect: %s", tls_failure.c_str());
        std::memset(password, 0, sizeof password);
        errno = 0;
        return nullptr;
    }
    const TlsUse tls_use_here = tls_use(*tls, std::strcmp(host, LOCAL_SOCKET_HOST) != 0);
    prepare_client_library(tls_use_here.required);
    MYSQL* connection = mysql_init(nullptr);
    if (connection == nullptr) {
        std::snprintf(message, message_size, "db_connect: insufficient memory to allocate new object.");
        std::memset(password, 0, sizeof password);
        return nullptr;
    }
    prepare_connection_wait(connection, bound_seconds);
    apply_tls_options(connection, *tls, tls_use_here);
    begin_connection_phase(bound_seconds);
    MYSQL* connected = mysql_real_connect(connection, host, login, password, database, port, socket, 0);
    std::memset(password, 0, sizeof password);
    // Not one statement goes out to a local socket that a stranger serves,
    // nor in plain text where TLS was wanted and not had (the client
    // library asks for TLS, but without verification it takes a server
    // that offers none).
    std::string refusal;
    if (connected != nullptr && socket_peer_trusted(mysql_get_socket(connection), refusal)) {
        const char* tls_refused = tls_refusal(connection, *tls, tls_use_here);
        if (tls_refused != nullptr) refusal = tls_refused;
    }
    // The server's answer to the first statement does not matter, but a
    // connection lost or silent on it is no connection.
    if (connected != nullptr && refusal.empty() &&
        mysql_real_query(connection, FOREIGN_KEY_CHECKS_OFF, std::strlen(FOREIGN_KEY_CHECKS_OFF)) != 0 &&
        mysql_errno(connection) >= CR_MIN_ERROR)
        connected = nullptr;
    if (connected == nullptr || !refusal.empty()) {
        std::snprintf(message, message_size, "db_connect: failed to connect to database: Error: %s",
                      !refusal.empty() ? refusal.c_str() : mysql_error(connection));
        // What the client library left in errno is its own business; only
        // a socket's real reason may reach a "System error" line.
        const int reason = !refusal.empty() ? 0 : connection_failure_reason(connection);
        mysql_close(connection);
        end_connection_phase();
        errno = reason;
        return nullptr;
    }
    end_connection_phase();
    note_connection(connection);
    remember_connection(connection);
    return connection;
}

void close_connection(MYSQL* connection) {
    if (connection == nullptr) return;
    auto found = std::find(open_connections.begin(), open_connections.end(), connection);
    if (found != open_connections.end()) open_connections.erase(found);
    mysql_close(connection);
}

MYSQL* open_panel_db() {
    char message[DB_MESSAGE_BUFFER_SIZE];
    MYSQL* connection = db_connect(message, sizeof message);
    if (connection == nullptr) {
        // The reason stays in errno for the caller's own message.
        const int reason = errno;
        emit_error(message, 0);
        errno = reason;
    }
    return connection;
}
