#ifndef VERSTALLY_COMPONENTS_TOOL_PROBE_H
#define VERSTALLY_COMPONENTS_TOOL_PROBE_H

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace vonta {

/// False when `path` leads nowhere (the tool is absent). Otherwise stores in
/// `executable` the canonical path to run and returns true, unless the file
/// is not a regular file with owner read and execute permission, or it or
/// a directory above it is owned by anyone but root (or the user the tool
/// runs as) or writable by group or others (a sticky directory excepted):
/// then the process ends with `badPermissionsFormat` (one %s: `path`).
bool toolPresent(const char* path, const char* badPermissionsFormat, std::string& executable);

/// In a child whose 0, 1 and 2 are set up: closes every other descriptor
/// except the close-on-exec status pipe (above 2), so the tool inherits
/// nothing of the run.
void closeAllButStatusPipe(int statusWrite);

/// Creates a pipe whose two ends are close-on-exec and numbered above 2, so
/// that a child's rearranging of 0, 1 and 2 never touches them. Fatal
/// "Unable to open pipe: %s\n" on failure.
void openToolPipe(int fds[2]);

/// Forks with buffered output flushed first; fatal "Unable to create
/// child: %s\n" on failure. Returns the pid (0 in the child).
pid_t forkTool();

/// In a child: tells the parent, through the close-on-exec status pipe,
/// that the tool could not be started. Call before reporting and exiting.
void tellToolNotStarted(int statusWrite);

/// In a child: runs `path` with the argument list argv0, argument. When the
/// exec fails, tells the parent and ends the child with "Unable to exec
/// program %s: %s\n".
[[noreturn]] void execToolOrReport(const char* path, const char* argv0, const char* argument, int statusWrite);

/// In the parent: true when the child closed the status pipe by exec, false
/// when it reported that the tool did not start. Closes `statusRead`.
bool toolStarted(int statusRead);

/// Reads `fd` to its end, keeping the first `size` bytes in `buffer` and
/// dropping the rest, so a talkative tool can never block on a full pipe.
/// Returns the number of bytes kept. Fatal "Unable to read program
/// output: %s\n" on failure. Closes `fd`.
std::size_t readToolOutput(int fd, char* buffer, std::size_t size);

/// Waits for the child (also returning when it stops); fatal "Error occured
/// during exec program: %s\n" on failure. The exit status is not examined.
void waitForTool(pid_t child);

}  // namespace vonta

#endif
