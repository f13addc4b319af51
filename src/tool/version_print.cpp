#include "tool/modes.h"

#include "env/messages.h"

void print_component_version(const char* name) {
    (void)name;
    // Not built yet: say so instead of printing a made-up version.
    emit_error("printing a component version is not available yet", 1);
}
