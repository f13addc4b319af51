#include "env/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int open_regular_file(const char* path, int flags, unsigned mode, bool* refused) {
    if (refused != nullptr) *refused = false;
    int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) {
        // ENXIO comes only from what is no regular file: a FIFO opened for
        // writing without a reader, a socket, a device without its driver.
        if (errno == ENXIO) {
            if (refused != nullptr) *refused = true;
            errno = EINVAL;
        }
        return -1;
    }
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        if (refused != nullptr) *refused = true;
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    } else {
        const int status = fcntl(fd, F_GETFL);
        if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) error = errno;
    }
    if (error == 0) return fd;
    close(fd);
    errno = error;
    return -1;
}

FILE* open_regular_stream(const char* path) {
    const int fd = open_regular_file(path, O_RDONLY);
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "r");
    if (stream == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return stream;
}

bool read_bounded_line(FILE* file, char* line, std::size_t size) {
    std::size_t length = 0;
    int c = EOF;
    while ((c = std::getc(file)) != EOF) {
        if (length + 1 < size) line[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    line[length] = '\0';
    return c != EOF || length > 0;
}
