#include "db/socket_discovery.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/env_values.h"
#include "env/file_trust.h"
#include "env/messages.h"
#include "env/regular_file.h"
#include "env/user_lookup.h"

namespace {

// A socket of the database server: one that only root, the server's own
// account or this process's user can have made, reached by a name that
// only they can have put there. Anybody may make a socket in /tmp, or a
// link there to the real one that is swapped after this look; a root tool
// that logged in there would hand its login exchange to whoever listens
// (and take its answers for the panel's).
bool is_server_socket(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0) return false;
    if (S_ISLNK(st.st_mode) && !is_server_account(st.st_uid)) {
        warn_message("Socket %s is a link that belongs to neither root nor %s and is not followed", path,
                     MYSQL_SERVER_ACCOUNT);
        return false;
    }
    if (stat(path, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    if (is_server_account(st.st_uid)) return true;
    warn_message("Socket %s belongs to neither root nor %s and is passed over", path, MYSQL_SERVER_ACCOUNT);
    return false;
}

const char* skip_blanks(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    return text;
}

/// The first socket line of the server section of my.cnf, copied into
/// `found` when it names a socket.
bool socket_from_conf(char (&found)[TEXT_BUFFER_SIZE]) {
    // Only a regular file is read: a FIFO would block, and a link to a
    // device such as /dev/zero would never end.
    FILE* conf = open_regular_stream(MYSQL_CONF_FILE);
    if (conf == nullptr) return false;
    const bool taken = mysql_socket_from_conf(conf, found, sizeof found);
    std::fclose(conf);
    return taken;
}

}  // namespace

bool is_server_account(uid_t uid) {
    if (trusted_owner(uid)) return true;
    const int saved_errno = errno;
    const struct passwd* server = getpwnam(MYSQL_SERVER_ACCOUNT);
    const bool server_account = server != nullptr && server->pw_uid == uid;
    errno = saved_errno;
    return server_account;
}

bool socket_peer_trusted(int fd, std::string& refusal) {
    int domain = 0;
    socklen_t length = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain != AF_UNIX) return true;
    // The kernel's record of who listens, which no name on the way can
    // change; a socket that cannot say is not taken.
    struct ucred peer {};
    length = sizeof peer;
    if (domain != AF_UNIX || getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        refusal = std::string("cannot tell who listens on the server's socket: ") + std::strerror(errno);
        return false;
    }
    if (is_server_account(peer.uid)) return true;
    refusal = std::string("the process listening on the server's socket runs as ") + user_name_of(peer.uid) +
              ", neither root, " + MYSQL_SERVER_ACCOUNT + " nor the user of this process";
    return false;
}

bool mysql_socket_from_conf(FILE* conf, char* found, std::size_t found_size) {
    const std::size_t section_length = std::strlen(MYSQL_SERVER_SECTION);
    const std::size_t option_length = std::strlen(MYSQL_SOCKET_OPTION);
    bool inside = false;
    char line[TEXT_BUFFER_SIZE];
    while (read_bounded_line(conf, line, sizeof line)) {
        const char* text = skip_blanks(line);
        if (*text == '\0' || *text == '#' || *text == ';') continue;
        if (!inside) {
            if (std::strncmp(text, MYSQL_SERVER_SECTION, section_length) == 0) inside = true;
            continue;
        }
        if (*text == '[') break;
        if (std::strncmp(text, MYSQL_SOCKET_OPTION, option_length) != 0) continue;
        // Only the first socket line of the section counts, usable or not.
        const char* equals = std::strchr(text + option_length, '=');
        if (equals == nullptr) break;
        const char* value = skip_blanks(equals + 1);
        if (*value == '\0') break;
        std::size_t length = 0;
        while (value[length] != '\0' && !std::isspace(static_cast<unsigned char>(value[length]))) ++length;
        std::snprintf(found, found_size, "%.*s", static_cast<int>(length), value);
        return is_server_socket(found);
    }
    return false;
}

const char* find_mysql_socket() {
    if (env_value_or_null(ENV_MYSQL_UNIX_PORT) != nullptr) return nullptr;
    static char from_conf[TEXT_BUFFER_SIZE];
    errno = 0;
    if (socket_from_conf(from_conf)) return from_conf;
    if (is_server_socket(MYSQL_SOCKET_FALLBACK_1)) return MYSQL_SOCKET_FALLBACK_1;
    if (is_server_socket(MYSQL_SOCKET_FALLBACK_2)) return MYSQL_SOCKET_FALLBACK_2;
    return nullptr;
}
