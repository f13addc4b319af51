#ifndef VERSTALLY_DB_CONTAINER_MODE_H
#define VERSTALLY_DB_CONTAINER_MODE_H

// The connection settings of a panel that runs inside a container.

/// Container mode. With the marker link present, ZEV_DB_HOST defaults to
/// the link's target and, inside container N (the number at the start of
/// the identity file's first line, when not 0), ZEV_DB_NAME and
/// ZEV_DB_LOGIN default to "zevN" and "adminN"; values already present in
/// the environment are kept. Without the link, save_db_host_link runs.
/// Returns 0 when the link was read and handled, -1 when there is no link
/// or the identity file cannot be opened.
int apply_container_mode();

/// Run mode from ZEV_RUN_MODE: 1, 2 or 3, or 0 when it is unset. Any other
/// value (an empty one included) ends the process with
/// "unrecognized ZEV_RUNMODE".
int get_run_mode();

/// In container run mode (ZEV_RUN_MODE 3) with ZEV_DB_HOST present (even
/// empty), replaces the marker link by one whose target is ZEV_DB_HOST.
/// Failures are ignored.
void save_db_host_link();

#endif
