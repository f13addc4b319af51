#include "env/semaphores.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"
#include "env/product_conf.h"
#include "env/regular_file.h"

namespace {

int sem_fd = -1;

// The text already holds the system's reason; it is held to the library's
// buffer size, as a path may nearly fill it.
[[noreturn]] void open_failed(const char* path, int error) {
    char message[TEXT_BUFFER_SIZE];
    std::snprintf(message, sizeof message, "failed to open semaphore file %s: %s", path, std::strerror(error));
    emit_error(message, 1);
    std::exit(1);  // not reached: a fatal report ends the process
}

// Root opens this file: a link planted as its last component would have
// root create the link's target, and a FIFO would block the open for ever.
// Links among the directories above it are followed as usual.
int open_sem_file(const char* path) {
    return open_regular_file(path, O_WRONLY | O_CREAT | O_NOFOLLOW, SEMAPHORE_FILE_MODE);
}

// One fcntl lock call of `operation` (named in its messages) on byte
// `semnum`, retried while a signal interrupts it. A negative number, or a
// failure other than a lock held elsewhere when `held_elsewhere` may be
// answered, ends the process. 0 when done; -1 for a lock held elsewhere.
int lock_call(const char* operation, int command, short type, int semnum, struct flock64* lock,
              bool held_elsewhere = false) {
    if (semnum < 0)
        fatal_message("%s() failed for semnum %ld: semnum must not be negative", operation, static_cast<long>(semnum));
    for (;;) {
        std::memset(lock, 0, sizeof *lock);
        lock->l_type = type;
        lock->l_whence = SEEK_SET;
        lock->l_start = semnum;
        lock->l_len = 1;
        if (fcntl(sem_fd, command, lock) == 0) return 0;
        if (held_elsewhere && (errno == EAGAIN || errno == EACCES)) return -1;
        if (errno != EINTR)
            fatal_message("%s() failed for semnum %ld: %s", operation, static_cast<long>(semnum), std::strerror(errno));
        errno = 0;
    }
}

}  // namespace

void init_sem() {
    if (sem_fd >= 0) return;
    // The entry point loads the configuration; a library user that did not
    // gets it loaded here rather than a path below the system root.
    char path[TEXT_BUFFER_SIZE];
    int length = std::snprintf(path, sizeof path, SEMAPHORE_FILE_FORMAT, product_root());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) open_failed(path, ENAMETOOLONG);

    sem_fd = open_sem_file(path);
    if (sem_fd >= 0) return;
    if (errno != ENOENT) open_failed(path, errno);

    char directory[TEXT_BUFFER_SIZE];
    std::snprintf(directory, sizeof directory, "%s", path);
    char* slash = std::strrchr(directory, '/');
    if (slash == nullptr) open_failed(path, ENOENT);
    *slash = '\0';
    if (directory[0] != '\0' && !mkdir_recursive(directory)) open_failed(path, errno);

    sem_fd = open_sem_file(path);
    if (sem_fd < 0) open_failed(path, errno);
}

int sem_lock(int semnum) {
    struct flock64 lock;
    return lock_call("sem_lock", F_SETLK64, F_WRLCK, semnum, &lock, true);
}

void sem_lock_wait(int semnum) {
    struct flock64 lock;
    lock_call("sem_lock", F_SETLKW64, F_WRLCK, semnum, &lock);
}

void sem_unlock(int semnum) {
    struct flock64 lock;
    lock_call("sem_unlock", F_SETLK64, F_UNLCK, semnum, &lock);
}

int sem_test(int semnum) {
    struct flock64 lock;
    lock_call("sem_test", F_GETLK64, F_WRLCK, semnum, &lock);
    return lock.l_type == F_UNLCK ? 0 : static_cast<int>(lock.l_pid);
}

int shutdown_sem() {
    if (sem_fd < 0) return 0;
    int fd = sem_fd;
    // Linux frees the descriptor even when close reports an error.
    sem_fd = -1;
    if (close(fd) != 0) fatal_message("shutdown_sem(): failed to close semaphore file: %s", std::strerror(errno));
    return 0;
}

int mkdir_recursive(const char* path) {
    if (path[0] == '\0') {
        errno = ENOENT;
        return 0;
    }
    char* copy = strdup(path);
    if (copy == nullptr) return 0;

    std::size_t length = std::strlen(copy);
    // Stops at every '/' but a leading one, then at the end of the path.
    for (std::size_t i = 1; i <= length; ++i) {
        if (i < length && copy[i] != '/') continue;
        char saved = copy[i];
        copy[i] = '\0';
        errno = 0;
        struct stat st;
        bool ok = true;
        if (stat(copy, &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                errno = ENOTDIR;
                ok = false;
            }
        } else if (errno != ENOENT) {
            ok = false;
        } else if (mkdir(copy, SEMAPHORE_DIR_MODE) != 0) {
            // Another utility may have made it in the meantime.
            ok = errno == EEXIST && stat(copy, &st) == 0 && S_ISDIR(st.st_mode);
            if (ok) errno = 0;
        }
        copy[i] = saved;
        if (!ok) {
            int error = errno;
            std::free(copy);
            errno = error;
            return 0;
        }
    }
    std::free(copy);
    return 1;
}
