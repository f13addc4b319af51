#include "db/container_mode.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "env/env_values.h"
#include "env/constants.h"
#include "env/messages.h"
#include "env/regular_file.h"

void save_db_host_link() {
    if (env_unsigned(ENV_RUN_MODE) != CONTAINER_RUN_MODE) return;
    // An empty ZEV_DB_HOST counts as set here.
    const char* host = std::getenv(ENV_DB_HOST);
    if (host == nullptr) return;
    unlink(CONTAINER_MARKER_LINK);
    if (symlink(host, CONTAINER_MARKER_LINK) != 0) {
        // Nothing to report: the link only saves the host for later runs.
    }
}

int apply_container_mode() {
    char target[TEXT_BUFFER_SIZE];
    ssize_t length = readlink(CONTAINER_MARKER_LINK, target, sizeof target);
    if (length < 0) {
        save_db_host_link();
        return -1;
    }
    // A target that fills the buffer may have been cut; a cut host name
    // would send the connection elsewhere, so such a link is not used.
    if (static_cast<std::size_t>(length) >= sizeof target) return -1;
    target[length] = '\0';

    if (setenv(ENV_DB_HOST, target, 0) != 0) {
        save_db_host_link();
        return 0;
    }

    // The kernel's identity file is a regular file of procfs; anything else
    // there (a FIFO would block) is as good as no file.
    FILE* identity = open_regular_stream(CONTAINER_ID_FILE);
    if (identity == nullptr) return -1;
    char line[TEXT_BUFFER_SIZE];
    long container = 0;
    if (read_bounded_line(identity, line, sizeof line)) {
        const int saved_errno = errno;
        container = std::strtol(line, nullptr, 10);
        errno = saved_errno;
    }
    std::fclose(identity);

    if (container != 0) {
        char value[TEXT_BUFFER_SIZE];
        std::snprintf(value, sizeof value, CONTAINER_DB_NAME_FORMAT, container);
        setenv(ENV_DB_NAME, value, 0);
        std::snprintf(value, sizeof value, CONTAINER_DB_LOGIN_FORMAT, container);
        setenv(ENV_DB_LOGIN, value, 0);
    }
    return 0;
}

int get_run_mode() {
    const char* value = std::getenv(ENV_RUN_MODE);
    if (value == nullptr) return 0;
    if (value[0] >= '1' && value[0] <= '0' + MAX_RUN_MODE && value[1] == '\0') return value[0] - '0';
    fatal_message("unrecognized ZEV_RUNMODE");
}
