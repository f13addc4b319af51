#ifndef VERSTALLY_ENV_FILE_TRUST_H
#define VERSTALLY_ENV_FILE_TRUST_H

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

// What a program run as root may let steer it: only what root, or the user
// it runs as, owns, and no one else may change.

/// Whether `uid` is root or the user the process runs as.
inline bool trusted_owner(uid_t uid) { return uid == 0 || uid == geteuid(); }

/// Whether the group or others may write what `st` describes.
inline bool writable_by_others(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

/// Whether `st` is a directory whose entries only a trusted owner can
/// rename or remove: a trusted owner's, and written by others only when
/// sticky (there only an entry's owner may rename or remove it).
inline bool safe_directory(const struct stat& st) {
    return S_ISDIR(st.st_mode) && trusted_owner(st.st_uid) && (!writable_by_others(st) || (st.st_mode & S_ISVTX) != 0);
}

#endif
