#ifndef VERSTALLY_ENV_IDENTITY_H
#define VERSTALLY_ENV_IDENTITY_H

/// Gives up the process's identity for the system account `account`: its
/// primary group, then its user. Both ids are looked up in the user
/// database (each failed lookup warns). When the process runs as root:
///   1. the supplementary groups are cleared first, so that no group of
///      root survives the change;
///   2. a refused setgroups, setgid or setuid ends the process with status
///      1 rather than letting it go on as root.
/// Without root the changes are tried and a refusal leaves the identity as
/// it is. A missing account changes nothing: the process keeps its
/// identity.
void become_account(const char* account);

#endif
