#ifndef VERSTALLY_DB_COMPONENT_VERSION_H
#define VERSTALLY_DB_COMPONENT_VERSION_H

/// Copies the version stored for component `name` in the Components table
/// into `buffer` (at most size - 1 characters, always terminated), reading
/// through a connection of its own. Every failure ends the process.
void get_component_version(const char* name, char* buffer, int size);

/// True when the stored version of `name` is not "not_installed"; failures
/// end the process as in get_component_version.
bool is_component_installed(const char* name);

/// As is_component_installed, but every failure answers false silently
/// (only the connection routine's own warning may be printed).
bool component_installed_quiet(const char* name);

#endif
