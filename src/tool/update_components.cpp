#include "tool/modes.h"

#include "env/messages.h"

void update_components() {
    // Not built yet: say so instead of pretending the table was refreshed.
    emit_error("the components update is not available yet", 1);
}
