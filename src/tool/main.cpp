#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/messages.h"
#include "env/product_conf.h"
#include "env/safe_point.h"
#include "tool/modes.h"
#include "tool/run_end.h"

namespace {

constexpr const char* PROGRAM_NAME = "verstally";
// Asks for the version line, which needs no panel configuration: it is
// asked of tools on machines not yet set up, and of packages being checked.
constexpr const char* VERSION_OPTION = "--version";

constexpr const char* USAGE_TEXT =
    "Usage: verstally ([<package>]|--set-dirty-flag)\n"
    " verstally\n"
    "    updates components list in DB\n"
    " verstally --set-dirty-flag\n"
    "    creates the flag indicating that next autoprepend() call\n"
    "    will invoke verstally to update components list in the DB\n"
    " verstally <package>\n"
    "    shows the <package> version\n"
    " verstally --help\n"
    "    shows this message\n";

void print_usage() { std::printf("%s", USAGE_TEXT); }

// Descriptors 0, 1 and 2 that the caller left closed are opened on
// /dev/null, so that no file or connection opened later takes their place
// and receives the messages meant for them.
void openMissingStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        int opened = open(DEV_NULL, O_RDWR);
        if (opened < 0) std::_Exit(1);  // nowhere to report it either
        if (opened != fd) {
            // Lower numbers are open already, so this cannot happen; be sure.
            dup2(opened, fd);
            close(opened);
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    openMissingStandardDescriptors();
    take_charge_of_signals();
    // Without an argument vector (argc 0, or the empty argv[0] that Linux
    // substitutes for it) messages go out under the tool's own name; argc 0
    // itself is misuse and gets the usage text.
    program_path = (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : PROGRAM_NAME;
    if (argc == 2 && std::strcmp(argv[1], VERSION_OPTION) == 0) {
        std::printf("%s %s\n", PROGRAM_NAME, VERSTALLY_VERSION);
        return 0;
    }
    load_product_conf();

    if (argc < 1 || argc > 2) {
        print_usage();
        return 1;
    }
    if (argc == 2) {
        if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
            print_usage();
            return 0;
        }
        if (std::strcmp(argv[1], "--set-dirty-flag") == 0) {
            set_dirty_flag();
            return 0;
        }
        print_component_version(argv[1]);
        return 0;
    }

    try {
        update_components();
    } catch (const std::exception& e) {
        // A child ended by the time-out fails its run: the time-out it is.
        safe_point();
        std::fprintf(stderr, "%s", e.what());
        return 1;
    }
    return 0;
}
