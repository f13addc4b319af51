#ifndef VERSTALLY_UTIL_WAITED_CHILDREN_H
#define VERSTALLY_UTIL_WAITED_CHILDREN_H

#include <sys/types.h>

// The children the process waits for: startChild registers each, so that a
// signal handler can end them (a hung child must not outlive a run that
// gives up on it) and a reaper of every child's end keeps theirs for
// waitForChild.

/// Registers a child whose output or end the process waits for. False
/// when MAX_WAITED_CHILDREN are registered already. Call it with SIGCHLD
/// blocked since before the child was created, or the reaper may take the
/// child's end for another's.
bool registerWaitedChild(pid_t child);
void unregisterWaitedChild(pid_t child);

/// True when reapEndedChildren has reaped `child` already: its wait status
/// is then in `status` and it is unregistered.
bool takeReapedChild(pid_t child, int& status);

/// Sends `signal` to the process group of every registered child that has
/// not ended. Async-signal-safe.
void signalWaitedChildren(int signal);

/// Reaps every child that has ended, keeping the wait status of a
/// registered one for takeReapedChild. Async-signal-safe, errno kept: a
/// SIGCHLD handler, for a process whose other children's ends nobody waits
/// for (what a child subreaper inherits).
void reapEndedChildren(int signal = 0);

/// How many registered children have not been seen to end.
int runningWaitedChildren();

#endif
