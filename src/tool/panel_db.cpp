#include "tool/panel_db.h"

#include "db/connection.h"
#include "db/tls_options.h"
#include "env/constants.h"
#include "env/messages.h"

MYSQL* panel_db = nullptr;

void open_panel_db_or_exit() {
    // The tool's own settings stand in its own group, which no other
    // program built on the library reads.
    set_program_option_group(TOOL_OPTION_GROUP);
    panel_db = open_panel_db();
    if (panel_db == nullptr) fatal_error("%s", DB_CONNECT_FAILURE);
}
