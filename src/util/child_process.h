#ifndef VERSTALLY_UTIL_CHILD_PROCESS_H
#define VERSTALLY_UTIL_CHILD_PROCESS_H

#include <csignal>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

/// dup2(source, target), then closes source; -1 as source means /dev/null.
/// Returns source unchanged when both are equal.
int dup2Custom(int source, int target);

/// Starts `path` with `argv` (null-terminated, not copied) on the given
/// standard descriptors (-1: /dev/null). In the child every other descriptor
/// is closed, the user changed unless it is (uid_t)-1, and `environment`
/// added. Returns the child's pid in the parent.
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
/// As above; the child's standard error is dropped.
int forkExecvGetOutErr(std::string& output, const std::string& path, const std::vector<char*>& argv);

/// Closes every descriptor from 3 up, ignoring errors.
void closeDescriptorsFrom3();

/// The child forkExecvGetOutErr is collecting or waiting for; 0 when none.
/// A signal handler may read it (to end that child).
extern volatile sig_atomic_t currentChildPid;

/// Called each time a wait of forkExecvGetOutErr is interrupted by a signal,
/// before the wait goes on. Null (the default) means nothing is called.
void setChildWaitInterruptHook(void (*hook)());

#endif
