#ifndef VERSTALLY_UTIL_CHILD_PROCESS_H
#define VERSTALLY_UTIL_CHILD_PROCESS_H

#include <csignal>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// Every child of the library and the tool is started by startChild, which
// hardens each start the same way: a process group of its own, nothing
// beyond descriptor 2 inherited, /dev/null on whichever of 0, 1 and 2 the
// caller does not set, no inherited signal disposition or mask, and a
// program that cannot be started told apart from one that ran. A child
// that needs no change of user is started with posix_spawn.
//
// How failures travel here:
//  - a failure to create or set up the pipes of forkExecvGetOutErr ends
//    the process through fatal_error (status 1);
//  - everything else throws through throwSystemError: a failed fork (the
//    system has no room for another process), a failed setuid in the
//    child, a failed poll or read in the parent. Nothing is thrown in a
//    child: the child reports to the parent, which throws.

/// How startChild starts a program.
struct ChildStart {
    /// The program, run by exactly this path (no search along PATH).
    const char* path = nullptr;
    /// Its arguments, null-terminated; not copied.
    const std::vector<char*>* argv = nullptr;
    /// Standard input, output and error; -1 means /dev/null.
    int input = -1;
    int output = -1;
    int error = -1;
    /// The working directory, when not null.
    const char* directory = nullptr;
    /// The user the child becomes, unless (uid_t)-1.
    uid_t user = static_cast<uid_t>(-1);
    /// Variables added to the process's environment, replacing those of
    /// the same name; null or empty: the environment as it is.
    const std::map<std::string, std::string>* environment = nullptr;
};

/// Starts a child as `start` says and returns its pid; it is registered as
/// waited for (util/waited_children.h) until waitForChild reaps it. When
/// the program could not be started (its exec, or the change of directory,
/// failed) no child is left: returns -1 with the errno in `startError`.
/// Throws "forkExecvPipes: fork() failed" when no process can be created,
/// "forkExecvPipes: setuid() failed" when the user cannot be changed. A
/// safe point comes first: once the run is to end, nothing new starts.
pid_t startChild(const ChildStart& start, int& startError);

/// Waits for a child of startChild and unregisters it; every interruption
/// is a safe point. False when waitpid fails (errno set).
bool waitForChild(pid_t child, int& status);

/// dup2(source, target), then closes source; -1 as source means /dev/null.
/// Returns source unchanged when both are equal.
int dup2Custom(int source, int target);

/// Starts `path` with `argv` (null-terminated, not copied) on the given
/// standard descriptors (-1: /dev/null), through startChild, with the user
/// changed unless it is (uid_t)-1 and `environment` added. Returns the
/// child's pid, for the caller to wait for. A program that cannot be
/// started throws "forkExecvPipes: execv() failed" with the reason.
pid_t forkExecvPipes(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                     uid_t user, const std::map<std::string, std::string>& environment);

/// Appends what `fd` holds now to `destination`. Returns false at end of
/// file, true when nothing more is available for now.
bool readToString(int fd, std::string& destination);

/// Runs a child with standard input on /dev/null, appends its standard output
/// and error to the given strings while it runs, and waits for it. Returns
/// its exit code, or -1 when it was ended by a signal or cannot be waited for.
/// A program that cannot be started gives 1, with "forkExecvPipes: execv()
/// failed" and its reason appended to both strings, as a child that got as
/// far as reporting it would have written.
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user,
                       const std::map<std::string, std::string>& environment);
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user);
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv);
/// As above, for a caller that must tell a program that could not be started
/// from one that ran: `execError` receives the errno of the failed start, 0
/// when the program started.
int forkExecvGetOutErrExec(std::string& output, std::string& error, const std::string& path,
                           const std::vector<char*>& argv, int& execError);
/// As above; the child's standard error is dropped.
int forkExecvGetOutErr(std::string& output, const std::string& path, const std::vector<char*>& argv);

/// Closes every descriptor from 3 up, ignoring errors.
void closeDescriptorsFrom3();

#endif
