#ifndef VERSTALLY_TESTS_HARNESS_ACCOUNTS_H
#define VERSTALLY_TESTS_HARNESS_ACCOUNTS_H

#include "harness/sandbox.h"

/// The panel account of the fixtures: user zevadm (4711) whose primary
/// group is zevadm (4712), as the README's set-up makes it.
constexpr unsigned FIXTURE_UID = 4711;
constexpr unsigned FIXTURE_GID = 4712;
/// The unprivileged account of every sandbox: nobody, group nogroup.
constexpr unsigned NOBODY_ID = 65534;

/// Puts /etc/passwd and /etc/group into the sandbox: the sandbox's own
/// accounts (SANDBOX_PASSWD, SANDBOX_GROUP) plus the panel account when
/// `withPanelAccount` is set.
void writeAccountFiles(const Sandbox& sandbox, bool withPanelAccount = true);

#endif
