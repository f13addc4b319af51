#include "env/user_lookup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <pwd.h>

#include "env/constants.h"
#include "env/messages.h"

namespace {

/// Stands for a missing name in the unknown-name warnings.
const char* const NULL_NAME = "(null)";

// After a lookup that found no entry: "no such entry" is no system error.
void clear_not_found_error() {
    if (lookup_found_no_entry(errno)) errno = 0;
}

}  // namespace

int get_user_ids(const char* name, int* uid, int* gid, const char** home) {
    // getpwnam leaves errno alone when the user simply does not exist, so
    // clear it: the warning then names only an error of this lookup.
    errno = 0;
    // No name names no user: the same answer as for an unknown one, without
    // asking the user database.
    const struct passwd* entry = name != nullptr ? getpwnam(name) : nullptr;
    if (entry == nullptr) {
        clear_not_found_error();
        report_error(0, "Unable to getpwnam for user %s", name != nullptr ? name : NULL_NAME);
        return -1;
    }
    if (uid != nullptr) *uid = static_cast<int>(entry->pw_uid);
    if (gid != nullptr) *gid = static_cast<int>(entry->pw_gid);
    if (home != nullptr) *home = entry->pw_dir;
    return 0;
}

int get_user_id(const char* name, int flag) {
    int id = 0;
    int result = flag == 0 ? get_user_ids(name, &id, nullptr, nullptr) : get_user_ids(name, nullptr, &id, nullptr);
    return result == 0 ? id : 0;
}

int get_group_id(const char* name) {
    errno = 0;
    const struct group* entry = name != nullptr ? getgrnam(name) : nullptr;
    if (entry == nullptr) {
        clear_not_found_error();
        warn_message("Unable to getgrnam for group %s: %s", name != nullptr ? name : NULL_NAME, std::strerror(errno));
        return 0;
    }
    return static_cast<int>(entry->gr_gid);
}

const char* user_name_of(uid_t uid) {
    static char name[TEXT_BUFFER_SIZE];
    const struct passwd* entry = getpwuid(uid);
    if (entry != nullptr)
        std::snprintf(name, sizeof name, "%s", entry->pw_name);
    else
        std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(uid));
    return name;
}

const char* group_name_of(gid_t gid) {
    static char name[TEXT_BUFFER_SIZE];
    const struct group* entry = getgrgid(gid);
    if (entry != nullptr)
        std::snprintf(name, sizeof name, "%s", entry->gr_name);
    else
        std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(gid));
    return name;
}

bool lookup_found_no_entry(int error) {
    return error == 0 || error == ENOENT || error == ESRCH || error == EBADF || error == EPERM;
}
