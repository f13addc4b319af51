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
/// then the process ends with "Bad file permissions on <label> <path>\n".
bool toolPresent(const char* path, const char* label, std::string& executable);

/// Creates a pipe whose two ends are close-on-exec and numbered above 2, so
/// that a child's rearranging of 0, 1 and 2 never touches them. Fatal
/// "Unable to open pipe: %s\n" on failure.
void openToolPipe(int fds[2]);

/// A tool started by startTool: its pid, and the read end of its status
/// pipe for toolStarted.
struct StartedTool {
    pid_t pid;
    int statusRead;
};

/// Starts `executable` with the argument list argv0, argument, in a child
/// of its own process group that sees only descriptors 0 to 2: standard
/// input from `input` (-1: closed), standard output and error into
/// `output`, the working directory `directory` when not null. The child's
/// failures before the exec are fatal there ("Unable to change directory
/// to %s: %s\n", "Unable to duplicate a file descriptor: %s\n", "Unable to
/// exec program %s: %s\n") and reported to the parent through the status
/// pipe. Fatal "Unable to create child: %s\n" when the fork fails.
StartedTool startTool(const char* executable, const char* argv0, const char* argument, int input, int output,
                      const char* directory = nullptr);

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
