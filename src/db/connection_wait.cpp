#include "db/connection_wait.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <errmsg.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include "env/constants.h"
#include "env/safe_point.h"

namespace {

// Milliseconds on the monotonic clock at which the connection phase ends;
// 0 outside the phase.
long long phase_deadline = 0;

volatile sig_atomic_t abort_requested = 0;
// The socket being waited on right now, -1 when none.
volatile sig_atomic_t waiting_socket = -1;
// The socket whose wait the abort cut short, -1 when none.
volatile sig_atomic_t aborted_socket = -1;
// Why the connection phase's last wait failed (a refused or timed-out
// connect), 0 when none did.
int phase_error = 0;

// Server thread ids by socket, for the sockets of the connections made here.
struct known_connection {
    int socket = -1;
    unsigned long thread_id = 0;
};
known_connection known[MAX_KNOWN_CONNECTIONS];
std::size_t next_reused = 0;

// The client library's wait for `socket`: >0 ready, 0 timed out, <0 failed.
// Its own time-out is the bounded one of prepare_connection_wait and counts
// only during the connection phase.
int wait_for_server(my_socket socket, my_bool is_read, int) {
    struct pollfd entry = {socket, static_cast<short>(is_read ? POLLIN : POLLOUT), 0};
    waiting_socket = socket;
    int result;
    for (;;) {
        if (abort_requested != 0) {
            aborted_socket = socket;
            errno = EINTR;
            result = -1;
            break;
        }
        int timeout = -1;
        if (phase_deadline != 0) {
            const long long left = phase_deadline - monotonic_ms();
            if (left <= 0) {
                errno = ETIMEDOUT;
                phase_error = ETIMEDOUT;
                result = 0;
                break;
            }
            timeout = static_cast<int>(left);
        }
        result = poll(&entry, 1, timeout);
        if (result >= 0) {
            // A socket shut down by the abort reads as ready: it is still cut.
            if (abort_requested != 0) continue;
            if (result == 0) {
                // The phase ran out of time; the client library's read that
                // found nothing yet left EAGAIN, which is not the reason.
                errno = ETIMEDOUT;
                phase_error = ETIMEDOUT;
                break;
            }
            // The client library's read that found nothing yet left EAGAIN
            // behind; it is no failure, and no message may report it.
            errno = 0;
            // A connect that failed reads as ready for writing; its reason
            // is the socket's, and the wait fails with it, so that the
            // client library reports that reason and not its own EINPROGRESS.
            int error = 0;
            socklen_t length = sizeof error;
            if (result > 0 && !is_read && getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                error != 0) {
                errno = error;
                if (phase_deadline != 0) phase_error = error;
                result = -1;
            }
            break;
        }
        if (errno != EINTR) break;
    }
    waiting_socket = -1;
    return result;
}

}  // namespace

void prepare_connection_wait(MYSQL* connection, unsigned bound_seconds) {
    // Non-zero time-outs also make the client library wait through
    // wait_for_server instead of blocking in a read.
    mysql_options(connection, MYSQL_OPT_CONNECT_TIMEOUT, &bound_seconds);
    mysql_options(connection, MYSQL_OPT_READ_TIMEOUT, &bound_seconds);
    mysql_options(connection, MYSQL_OPT_WRITE_TIMEOUT, &bound_seconds);
    mysql_optionsv(connection, MARIADB_OPT_IO_WAIT, wait_for_server);
}

void begin_connection_phase(unsigned bound_seconds) {
    phase_deadline = monotonic_ms() + static_cast<long long>(bound_seconds) * 1000;
    phase_error = 0;
}

void end_connection_phase() { phase_deadline = 0; }

int connection_failure_reason(MYSQL* connection) {
    if (phase_error != 0) return phase_error;
    // A connect that fails at once (a Unix socket nobody listens on) never
    // waits here; the client library then gives the socket's error only as
    // the number in parentheses that ends its text.
    const unsigned code = mysql_errno(connection);
    if (code != CR_CONNECTION_ERROR && code != CR_CONN_HOST_ERROR) return 0;
    const char* text = mysql_error(connection);
    const std::size_t length = std::strlen(text);
    if (length < 3 || text[length - 1] != ')') return 0;
    const char* open = std::strrchr(text, '(');
    char* end = nullptr;
    const long error = open != nullptr ? std::strtol(open + 1, &end, 10) : 0;
    return end == text + length - 1 && error > 0 && error < 4096 ? static_cast<int>(error) : 0;
}

void note_connection(MYSQL* connection) {
    const my_socket socket = mysql_get_socket(connection);
    if (socket < 0) return;
    const int flags = fcntl(socket, F_GETFD);
    if (flags >= 0) fcntl(socket, F_SETFD, flags | FD_CLOEXEC);

    // A socket number seen before belongs to a connection closed since.
    known_connection* slot = nullptr;
    for (auto& entry : known)
        if (slot == nullptr && entry.socket == socket) slot = &entry;
    for (auto& entry : known)
        if (slot == nullptr && entry.socket < 0) slot = &entry;
    if (slot == nullptr) {
        slot = &known[next_reused];
        next_reused = (next_reused + 1) % MAX_KNOWN_CONNECTIONS;
    }
    slot->socket = socket;
    slot->thread_id = mysql_thread_id(connection);
}

void abort_database_waits() {
    abort_requested = 1;
    const int socket = waiting_socket;
    if (socket >= 0) {
        aborted_socket = socket;
        shutdown(socket, SHUT_RDWR);
    }
}

unsigned long aborted_statement_thread() {
    const int socket = aborted_socket;
    unsigned long thread_id = 0;
    if (socket >= 0)
        for (const auto& entry : known)
            if (entry.socket == socket) thread_id = entry.thread_id;
    return thread_id;
}

void resume_database_waits() {
    abort_requested = 0;
    aborted_socket = -1;
}

void cancel_statement_of(MYSQL* connection, unsigned long thread_id) {
    if (connection == nullptr || thread_id == 0) return;
    char statement[64];
    const int length = std::snprintf(statement, sizeof statement, "KILL QUERY %lu", thread_id);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof statement)
        mysql_real_query(connection, statement, static_cast<unsigned long>(length));
}
