#ifndef VERSTALLY_ENV_SEMAPHORES_H
#define VERSTALLY_ENV_SEMAPHORES_H

// Numbered semaphores shared by the panel's utilities: semaphore N is a
// write lock on byte N of <PRODUCT_ROOT_D>/var/utilities.sem. The system
// drops a process's locks when it ends, so a killed utility never leaves
// one behind. Every operation but mkdir_recursive ends the process with
// status 1 and a message when it fails.

/// Opens the semaphore file, creating it (0600) and its directories (0755)
/// when missing. Only a regular file is accepted, and a symbolic link as
/// the file itself is not followed (links above it are). The descriptor is
/// close-on-exec, so child programs never hold it. Does nothing when the
/// file is open already.
void init_sem();

/// Takes semaphore `semnum` without waiting: 0 when taken (or already held
/// by this process), -1 when another process holds it.
int sem_lock(int semnum);

/// Takes semaphore `semnum`, waiting as long as another process holds it.
void sem_lock_wait(int semnum);

/// Releases semaphore `semnum` (no effect when it is not held).
void sem_unlock(int semnum);

/// 0 when no other process holds semaphore `semnum`, else the process id of
/// a holder. The caller's own locks never count.
int sem_test(int semnum);

/// Closes the semaphore file, which releases every semaphore this process
/// holds. Returns 0; also 0 when the file is not open.
int shutdown_sem();

/// Creates `path` and every missing directory above it with mode 0755;
/// existing directories stay as they are. 1 on success; 0 with errno set on
/// failure (ENOTDIR when a component exists but is no directory).
int mkdir_recursive(const char* path);

#endif
