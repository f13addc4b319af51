#ifndef VERSTALLY_TOOL_MODES_H
#define VERSTALLY_TOOL_MODES_H

// The run modes, one file each: update_components.cpp, dirty_flag.cpp,
// version_print.cpp. main.cpp dispatches to them.

/// Refreshes the Components table (no argument). Returns when the table has
/// been written; exits 0 silently when another run holds the lock; exits 1
/// through report_error on failures; lets component exceptions pass.
void update_components();

/// Creates the dirty flag as the panel account (--set-dirty-flag).
void set_dirty_flag();

/// Prints "<name>:<version>" as stored in the Components table.
void print_component_version(const char* name);

#endif
