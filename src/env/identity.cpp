#include "env/identity.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "env/messages.h"
#include "env/user_lookup.h"

namespace {

// The groups the user database gives the account `name` whose primary
// group is `group`.
void account_groups(const char* name, gid_t group, std::vector<gid_t>& groups) {
    int count = 16;
    for (;;) {
        groups.resize(static_cast<std::size_t>(count));
        const int previous = count;
        if (getgrouplist(name, group, groups.data(), &count) >= 0) break;
        // Too small: count now says how many there are.
        if (count <= previous) count = previous * 2;
    }
    groups.resize(static_cast<std::size_t>(count));
}

}  // namespace

bool look_up_account(uid_t user, AccountIdentity& identity) {
    errno = 0;
    const struct passwd* entry = getpwuid(user);
    if (entry == nullptr) {
        if (lookup_found_no_entry(errno)) errno = ENOENT;
        return false;
    }
    identity.user = entry->pw_uid;
    identity.group = entry->pw_gid;
    const std::string name = entry->pw_name;
    account_groups(name.c_str(), identity.group, identity.groups);
    return true;
}

const char* assume_identity(const AccountIdentity& identity) {
    if (setgroups(identity.groups.size(), identity.groups.data()) != 0) return "setgroups";
    if (setgid(identity.group) != 0) return "setgid";
    if (setuid(identity.user) != 0) return "setuid";
    return nullptr;
}

void become_account(const char* account) {
    // One lookup per id, each warning on its own when the account is
    // missing. Both come before any change.
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

    AccountIdentity identity;
    identity.user = static_cast<uid_t>(uid);
    identity.group = static_cast<gid_t>(gid);
    account_groups(account, identity.group, identity.groups);
    const char* failed = assume_identity(identity);
    if (failed == nullptr) return;
    if (std::strcmp(failed, "setgroups") == 0)
        fatal_error("Unable to set the supplementary groups of user %s", account);
    if (std::strcmp(failed, "setgid") == 0) fatal_error("Unable to change the group to %d for user %s", gid, account);
    fatal_error("Unable to change the user to %d for user %s", uid, account);
}
