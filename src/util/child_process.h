#ifndef VERSTALLY_UTIL_CHILD_PROCESS_H
#define VERSTALLY_UTIL_CHILD_PROCESS_H

#include <csignal>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "util/start_error.h"

// Every child of the library and the tool is started by startChild, one
// way, which hardens each start the same way: a process group of its own,
// nothing beyond descriptor 2 inherited, /dev/null on whichever of 0, 1 and
// 2 the caller does not set, every signal at its default and none blocked,
// the account's own groups for a child run as another user, death with the
// thread that started it (PR_SET_PDEATHSIG) once a run asks for it
// (bindChildrenToStarter), and a program that cannot be
// started told apart from one that ran, and an absent program from one that
// is there but cannot start. The child shares the caller's memory until it
// executes the program (as with vfork), so that a start costs what the
// program costs; it reports a failure there.
//
// How failures travel here:
//  - a failure to create or set up the pipes of forkExecvGetOutErr ends
//    the process through fatal_error (status 1);
//  - a start that fails is a StartError: startChild hands it back, the
//    other routines throw it through throwSystemError ("dup2Custom failed"
//    for /dev/null, "forkExecvPipes: setuid() failed" for the account,
//    "forkExecvPipes: execv() failed" for the program or its directory),
//    except forkExecvGetOutErr, which writes the exec failure as the child
//    would have and returns 1;
//  - everything else throws through throwSystemError: a failed fork (the
//    system has no room for another process), a failed poll or read in the
//    parent. Nothing is thrown in a child: the child reports to the parent.

/// From here on, each child dies with the thread that started it: a run
/// killed outright leaves none of its programs running. Off by default,
/// since a library caller may start a program that outlives it.
void bindChildrenToStarter();

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
    /// The user the child becomes, with that account's groups, unless
    /// (uid_t)-1.
    uid_t user = static_cast<uid_t>(-1);
    /// Variables added to the process's environment, replacing those of
    /// the same name; null or empty: the environment as it is.
    const std::map<std::string, std::string>* environment = nullptr;
};

/// Starts a child as `start` says and returns its pid; it is registered as
/// waited for (util/waited_children.h) until waitForChild reaps it. When
/// the program could not be started no child is left: returns -1 with the
/// reason in `failure`. Throws "forkExecvPipes: fork() failed" when no
/// process can be created (or no more children can be tracked). A safe
/// point comes first: once the run is to end, nothing new starts.
pid_t startChild(const ChildStart& start, StartError& failure);

/// Waits for a child of startChild and unregisters it; every interruption
/// is a safe point. False when waitpid fails (errno set).
bool waitForChild(pid_t child, int& status);

/// dup2(source, target), then closes source; -1 as source means /dev/null.
/// Returns source unchanged when both are equal.
int dup2Custom(int source, int target);

/// Starts `path` with `argv` (null-terminated, not copied) on the given
/// standard descriptors (-1: /dev/null), through startChild, with the user
/// changed unless it is (uid_t)-1 and `environment` added. Returns the
/// child's pid, for the caller to wait for with waitpid (while a run's
/// orphan reaper is on, util/waited_children.h, use startChild and
/// waitForChild instead: the reaper may reap it first). A start that fails
/// throws, with the errno of the failed step.
pid_t forkExecvPipes(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                     uid_t user, const std::map<std::string, std::string>& environment);

/// Appends what `fd` holds now to `destination`. Returns false at end of
/// file, true when nothing more is available for now.
bool readToString(int fd, std::string& destination);

/// Runs a child with standard input on /dev/null, appends its standard output
/// and error to the given strings while it runs, and waits for it. Returns
/// its exit code, or -1 when it was ended by a signal or cannot be waited for.
/// A program (or directory) that cannot be started gives 1, with
/// "forkExecvPipes: execv() failed" and its errno appended to both strings,
/// as a child that got as far as reporting it would have written; the other
/// start failures throw.
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user,
                       const std::map<std::string, std::string>& environment);
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user);
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv);
/// As above, for a caller that must tell a program that could not be started
/// from one that ran: no start failure throws; `failure` says why the start
/// failed (its step None when the program started).
int forkExecvGetOutErrExec(std::string& output, std::string& error, const std::string& path,
                           const std::vector<char*>& argv, StartError& failure);
/// As above; the child's standard error is dropped.
int forkExecvGetOutErr(std::string& output, const std::string& path, const std::vector<char*>& argv);

/// Closes every descriptor from 3 up, ignoring errors.
void closeDescriptorsFrom3();

#endif
