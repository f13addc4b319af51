#include "tool/panel_db.h"

#include "db/connection.h"
#include "env/constants.h"
#include "env/messages.h"

MYSQL* panel_db = nullptr;

void open_panel_db_or_exit() {
    panel_db = open_panel_db();
    if (panel_db == nullptr) fatal_error("%s", DB_CONNECT_FAILURE);
}
