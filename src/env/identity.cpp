#include "env/identity.h"

#include <grp.h>
#include <sys/types.h>
#include <unistd.h>

#include "env/messages.h"
#include "env/user_lookup.h"

void become_account(const char* account) {
    // One lookup per id, each warning on its own when the account is
    // missing. Both come before any change; below, the group is changed
    // first, while the process may still change it.
    int gid = 0;
    int uid = 0;
    bool have_gid = get_user_ids(account, nullptr, &gid, nullptr) == 0;
    bool have_uid = get_user_ids(account, &uid, nullptr, nullptr) == 0;
    if (!have_gid || !have_uid) return;

    if (geteuid() != 0) {
        // Only a process that is the account already (or may become it)
        // succeeds here; otherwise it goes on as what it is.
        const bool group_changed = setgid(static_cast<gid_t>(gid)) == 0;
        const bool user_changed = setuid(static_cast<uid_t>(uid)) == 0;
        (void)group_changed;
        (void)user_changed;
        return;
    }

    if (setgroups(0, nullptr) != 0)
        fatal_error("Unable to clear the supplementary groups before becoming user %s", account);
    if (setgid(static_cast<gid_t>(gid)) != 0)
        fatal_error("Unable to change the group to %d for user %s", gid, account);
    if (setuid(static_cast<uid_t>(uid)) != 0)
        fatal_error("Unable to change the user to %d for user %s", uid, account);
}
