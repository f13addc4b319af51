#ifndef VERSTALLY_TOOL_PANEL_DB_H
#define VERSTALLY_TOOL_PANEL_DB_H

#include <mysql.h>

/// The process-wide panel database connection of the database modes; null
/// until one of them has opened it. Closed only by the run time-out.
extern MYSQL* panel_db;

/// Opens panel_db, or ends the process with "Unable to connect to the mysql
/// database\n" after the connection routine's own warning.
void open_panel_db_or_exit();

#endif
