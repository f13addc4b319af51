#ifndef VERSTALLY_UTIL_CHILD_PROCESS_H
#define VERSTALLY_UTIL_CHILD_PROCESS_H

#include <csignal>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// How failures travel here:
//  - a failure to create or set up the pipes of forkExecvGetOutErr, and a
//    failed exec in the child, end that process through fatal_error
//    (status 1; in the child the parent then sees status 1 and the message
//    on the child's streams);
//  - everything else throws through throwSystemError: a failed fork, poll
//    or read in the parent, and a failed setuid or setenv in the child. A
//    throw in the child unwinds the caller's stack inside the child: it
//    ends at the caller's own handler there (in the tool, the entry
//    point's, which prints it on the child's standard error and exits 1).

/// dup2(source, target), then closes source; -1 as source means /dev/null.
/// Returns source unchanged when both are equal.
int dup2Custom(int source, int target);

/// Starts `path` with `argv` (null-terminated, not copied) on the given
/// standard descriptors (-1: /dev/null). The child leads a process group of
/// its own; every other descriptor is closed, the user changed unless it is
/// (uid_t)-1, and `environment` added. Returns the child's pid in the parent.
pid_t forkExecvPipes(int input, int output, int error, const std::string& path, const std::vector<char*>& argv,
                     uid_t user, const std::map<std::string, std::string>& environment);

/// Appends what `fd` holds now to `destination`. Returns false at end of
/// file, true when nothing more is available for now.
bool readToString(int fd, std::string& destination);

/// Runs a child with standard input on /dev/null, appends its standard output
/// and error to the given strings while it runs, and waits for it. Returns
/// its exit code, or -1 when it was ended by a signal or cannot be waited for.
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user,
                       const std::map<std::string, std::string>& environment);
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv, uid_t user);
int forkExecvGetOutErr(std::string& output, std::string& error, const std::string& path,
                       const std::vector<char*>& argv);
/// As above, for a caller that must tell a program that could not be started
/// from one that ran: `execError` receives the errno of a failed exec (the
/// child still reports it and exits 1), 0 when the program started.
int forkExecvGetOutErrExec(std::string& output, std::string& error, const std::string& path,
                           const std::vector<char*>& argv, int& execError);
/// As above; the child's standard error is dropped.
int forkExecvGetOutErr(std::string& output, const std::string& path, const std::vector<char*>& argv);

/// Closes every descriptor from `first` up, ignoring errors.
void closeDescriptorsFrom(int first);
/// Closes every descriptor from 3 up, ignoring errors.
void closeDescriptorsFrom3();

/// Children whose output or end the process is waiting for right now are
/// registered, so that a signal handler can end them (a hung child must not
/// outlive a run that gives up on it). At most MAX_WAITED_CHILDREN at once.
void registerWaitedChild(pid_t child);
void unregisterWaitedChild(pid_t child);
/// Sends `signal` to every registered child. Async-signal-safe.
void signalWaitedChildren(int signal);
/// Kills and reaps every registered child, for a process about to give up.
void reapWaitedChildren();

/// Called each time a wait for a child is interrupted by a signal, before
/// the wait goes on. Null (the default) means nothing is called.
void setChildWaitInterruptHook(void (*hook)());
/// Runs the hook; for every loop that waits for a child and meets EINTR.
void childWaitInterrupted();

#endif
