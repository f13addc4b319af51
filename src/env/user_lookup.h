#ifndef VERSTALLY_ENV_USER_LOOKUP_H
#define VERSTALLY_ENV_USER_LOOKUP_H

#include <sys/types.h>

// Lookups in the system's user and group database. Failures are warnings
// (the program goes on) answered with id 0, which cannot be told apart
// from the superuser's real id 0.

/// Fills each non-null out-place from the entry of user `name`: uid,
/// primary gid, home directory (valid only until the next user-database
/// call). 0 on success; -1 with the warning "Unable to getpwnam for user
/// <name>" (plus the system error when there is one), out-places untouched.
/// A null name is an unknown one, named "(null)" in the warning.
int get_user_ids(const char* name, int* uid, int* gid, const char** home);

/// The uid of user `name` when `flag` is 0, its primary gid otherwise; 0
/// after the warning of get_user_ids when there is no such user.
int get_user_id(const char* name, int flag);

/// The gid of group `name`; 0 after the warning "Unable to getgrnam for
/// group <name>: <system text>" when there is no such group (a null name
/// is such a group, named "(null)").
int get_group_id(const char* name);

/// Whether `error`, left by a user or group lookup that found no entry,
/// only says there is none (getpwnam(3): 0, ENOENT, ESRCH, EBADF or
/// EPERM; an NSS module that found nothing may leave ENOENT), rather than
/// naming a failure of the lookup.
bool lookup_found_no_entry(int error);

/// Name of user `uid`, or the id in decimal when it has none. Points to a
/// static buffer that the next call overwrites (at most 4095 characters).
const char* user_name_of(uid_t uid);

/// Name of group `gid`, or the id in decimal; static buffer as above.
const char* group_name_of(gid_t gid);

#endif
