#ifndef VERSTALLY_ENV_IDENTITY_H
#define VERSTALLY_ENV_IDENTITY_H

#include <sys/types.h>
#include <vector>

/// An account's identity, looked up while lookups may still be made (in
/// the parent, before a fork): its user, its primary group and the
/// supplementary groups the user database gives it (the primary one
/// included).
struct AccountIdentity {
    uid_t user = 0;
    gid_t group = 0;
    std::vector<gid_t> groups;
};

/// Looks up the account of `user`. False with errno set when it cannot be
/// had: ENOENT when the user database has no entry for it.
bool look_up_account(uid_t user, AccountIdentity& identity);

/// Takes on `identity` in the one order that leaves nothing of the old one:
///   1. the supplementary groups (none when the account has none);
///   2. the primary group;
///   3. the user.
/// Each step is checked; the first that fails ends the change with errno
/// set, and the result names its call ("setgroups", "setgid", "setuid");
/// null when all three took effect. Through the C library's calls, which
/// change every thread of the process: for the process itself. A child
/// that still shares its parent's memory (util/child_process.h) makes the
/// same three changes by system calls of its own.
const char* assume_identity(const AccountIdentity& identity);

/// Gives up the process's identity for the system account `account`: its
/// supplementary groups, primary group and user, through assume_identity.
/// The ids are looked up in the user database (each failed lookup warns).
/// When the process runs as root, a lookup of the groups or a change that
/// fails ends the process with status 1 rather than letting it go on with
/// anything of root's. Without root the group and user changes are tried
/// and a refusal leaves the identity as it is. A missing account changes
/// nothing: the process keeps its identity.
void become_account(const char* account);

#endif
