#include "tool/modes.h"

#include "env/messages.h"

void set_dirty_flag() {
    // Not built yet: say so instead of pretending the flag was set.
    emit_error("setting the dirty flag is not available yet", 1);
}
