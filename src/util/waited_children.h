#ifndef VERSTALLY_UTIL_WAITED_CHILDREN_H
#define VERSTALLY_UTIL_WAITED_CHILDREN_H

#include <sys/types.h>

// The children of a run: those it waits for, the orphans it inherits as a
// child subreaper, and what it ends when it gives up.

/// Registers a child whose output or end the process waits for, so that a
/// signal handler can end it (a hung child must not outlive a run that
/// gives up on it) and the orphan reaper keeps its end for waitForChild.
/// False when MAX_WAITED_CHILDREN are registered already. Call it with
/// SIGCHLD blocked since before the child was created, or the reaper may
/// take the child's end for an orphan's.
bool registerWaitedChild(pid_t child);
void unregisterWaitedChild(pid_t child);

/// True when the orphan reaper has reaped `child` already: its wait status
/// is then in `status` and it is unregistered.
bool takeReapedChild(pid_t child, int& status);

/// Sends `signal` to the process group of every registered child that has
/// not ended. Async-signal-safe.
void signalWaitedChildren(int signal);

/// Marks the start of a run. From here on:
///   1. the children the process has now, and every process that started
///      before this moment, are the caller's, and endEveryChild spares
///      them (a wrapper that execs the tool leaves its own jobs to it);
///   2. every child is reaped as it ends, by a SIGCHLD handler that keeps
///      the wait status of registered children for takeReapedChild, so
///      that the zombies of what the run's children leave behind do not
///      pile up while it runs;
///   3. endEveryChild runs at process exit, whatever ends the run.
/// Call it once; the children are found in /proc.
void beginRunChildren();

/// For a process about to give up: ends and reaps every process the run
/// started, wherever it moved (a session or group of its own included: a
/// child subreaper inherits what its children leave behind), until none is
/// left or CHILD_END_BOUND_MS have passed. Children are found in /proc;
/// without it only the process groups of the registered children are
/// ended, and a process that left its group is not found.
void endEveryChild();

#endif
