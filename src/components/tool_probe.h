#ifndef VERSTALLY_COMPONENTS_TOOL_PROBE_H
#define VERSTALLY_COMPONENTS_TOOL_PROBE_H

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace vonta {

/// A vendor tool that may be run as root: the path to execute and its
/// directory, both free of symbolic links, and the last name of the path
/// as written, the name the tool is started under.
struct CheckedTool {
    std::string executable;
    std::string directory;
    std::string name;
};

/// False when nothing is found at `path` (the tool is absent: util/absence.h);
/// a look that fails otherwise ends the process with "Unable to stat
/// <label> <path>: <reason>\n", since it says nothing of the tool. Otherwise
/// checks the path as written, from / down (relative to the working
/// directory when it is relative), and returns true with the result in
/// `tool`: every directory on it must be owned by root or the user this
/// process runs as and writable by nobody else (a sticky directory may be
/// writable by all), every symbolic link on it owned by one of them (only
/// then is it followed, and where it leads is checked the same way), and
/// the tool itself a regular file with owner read and execute permission,
/// owned by one of them and writable by nobody else; no step may lie on a
/// file system whose owners and modes its server chooses
/// (SHARED_FILE_SYSTEM_TYPES). A script's "#!" interpreter is checked the
/// same way and must be named by an absolute path and be no script itself.
/// Since nobody else can change any name on the checked path, what is run
/// later is what was checked. A path that fails ends the process with "Bad
/// file permissions on <label> <path>\n" (": interpreter <path>" added
/// when the interpreter failed).
bool toolPresent(const char* path, const char* label, CheckedTool& tool);

/// Starts `executable` with the argument list argv0, argument: standard
/// input from `input` (-1: /dev/null), standard output and error into a
/// new pipe whose read end is left in `outputRead`, the working directory
/// `directory` when not null. Returns the child's pid. Fatal "Unable to
/// open pipe: %s\n", "Unable to create child: %s\n" and, for a program
/// that cannot be started (it was found: this is no absent tool), "Unable
/// to exec program %s: %s\n".
pid_t startTool(const char* executable, const char* argv0, const char* argument, int input, int& outputRead,
                const char* directory = nullptr);

/// Reads `fd` to its end, keeping the first `size` bytes in `buffer` and
/// dropping the rest, so a talkative tool can never block on a full pipe.
/// Returns the number of bytes kept. Fatal "Unable to read program
/// output: %s\n" on failure. Closes `fd`.
std::size_t readToolOutput(int fd, char* buffer, std::size_t size);

/// Which exit statuses of a program say that it did not answer.
enum class NoAnswer {
    /// A vendor tool: 126 or 127, which the loader and the shells use for
    /// "could not be executed" and "not found". Any other status comes with
    /// an answer (a Java tool prints its version and exits 1).
    CouldNotRun,
    /// grep: 2 or more, its trouble; 1 is "no line matched", an answer.
    Trouble,
};

/// Waits for a child of startTool and returns its wait status; fatal
/// "Error occured during exec program: %s\n" when the wait fails.
int waitForTool(pid_t child);

/// A program that a signal ended, or whose exit status `rule` names, gave
/// no answer: fatal "Program <program> did not answer: it was ended by
/// SIG<name>\n" or "...: it exited with status <n>\n".
void requireAnswer(int status, const char* program, NoAnswer rule);

}  // namespace vonta

#endif
