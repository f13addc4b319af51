#ifndef VERSTALLY_UTIL_WAITED_CHILDREN_H
#define VERSTALLY_UTIL_WAITED_CHILDREN_H

#include <sys/types.h>

// The children a run is waiting for, so that the run time-out can end them.

/// Children whose output or end the process is waiting for right now are
/// registered, so that a signal handler can end them (a hung child must not
/// outlive a run that gives up on it). At most MAX_WAITED_CHILDREN at once.
void registerWaitedChild(pid_t child);
void unregisterWaitedChild(pid_t child);

/// Sends `signal` to the process group of every registered child.
/// Async-signal-safe.
void signalWaitedChildren(int signal);

/// For a process about to give up: ends and reaps every process it started,
/// wherever it moved (a session or group of its own included: a child
/// subreaper inherits what its children leave behind), until none is left
/// or CHILD_END_BOUND_MS have passed.
void endEveryChild();

#endif
