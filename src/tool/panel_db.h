#ifndef VERSTALLY_TOOL_PANEL_DB_H
#define VERSTALLY_TOOL_PANEL_DB_H

#include <mysql.h>

/// The process-wide panel database connection of the database modes; null
/// until one of them has opened it. Closed by the run time-out, else at
/// process exit (db/connection.h).
extern MYSQL* panel_db;

/// Opens panel_db (the option files' group [verstally] read besides the
/// client groups), or ends the process with "Unable to connect to the mysql
/// database\n" after the connection routine's own warning.
void open_panel_db_or_exit();

#endif
