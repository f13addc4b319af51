#include "tool/modes.h"

#include <cstdio>

#include "db/component_version.h"
#include "env/constants.h"
#include "tool/panel_db.h"
#include "tool/run_end.h"

void print_component_version(const char* name) {
    // First, so that nothing that can block, the option files included,
    // runs without the time-out.
    begin_guarded_run(RunPrograms::None);
    open_panel_db_or_exit();
    char version[TEXT_BUFFER_SIZE];
    get_component_version(name, version, sizeof version);
    std::printf("%s:%s\n", name, version);
}
