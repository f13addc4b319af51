#include "tool/modes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "env/constants.h"
#include "env/identity.h"
#include "env/messages.h"
#include "env/product_conf.h"
#include "env/regular_file.h"

void set_dirty_flag() {
    // Joined as they stand: a root ending in '/' gives "//tmp", which is
    // harmless.
    const std::string path = std::string(product_root()) + DIRTY_FLAG_SUFFIX;

    // The flag must belong to the panel account, not to root.
    become_account(PANEL_ACCOUNT);

    // No O_EXCL or O_TRUNC: an existing flag stays exactly as it is. The
    // run may still be root (no panel account): a link planted as the flag
    // is not followed, and a FIFO there neither blocks nor counts as a flag.
    int fd = open_regular_file(path.c_str(), O_CREAT | O_RDONLY | O_NOFOLLOW, DIRTY_FLAG_MODE);
    if (fd < 0)
        fatal_error("Creating the dirty flag in %s/tmp failed: %s", PRODUCT_ROOT_D, std::strerror(errno));
    close(fd);
}
