#ifndef VERSTALLY_TOOL_RUN_TIMEOUT_H
#define VERSTALLY_TOOL_RUN_TIMEOUT_H

/// At the start of every mode: what the caller set for signals and the run
/// relies on is undone. SIGCHLD goes back to its default (a caller that
/// ignores it would have the kernel reap the run's children before their
/// waits), and SIGALRM, SIGCHLD and RUN_ENDING_SIGNALS are unblocked (a
/// blocked SIGALRM would hold off the time-out).
void reset_inherited_signals();

/// Arms the run time-out of the database modes: SIGALRM after
/// RUN_TIMEOUT_SECONDS goes to timeout_handler. Armed once, never
/// cancelled. Also, from here on:
///   1. each of RUN_ENDING_SIGNALS ends the run as the time-out does,
///      without counting it: "Verstally ended by SIG<name>", status 1;
///      a signal the caller ignored (nohup) stays ignored;
///   2. the run's children are tracked (util/waited_children.h): the
///      caller's own children are spared when the run ends them, orphans
///      are reaped as they end.
void arm_run_timeout();

/// The handler of SIGALRM and RUN_ENDING_SIGNALS. It only notes why the
/// run is to end and ends the children and the database wait the run is
/// waiting for; at the next safe point (env/safe_point.h) every process the
/// run started is ended, a statement cut short is cancelled in the server,
/// a time-out is counted in misc (verstally_fails), panel_db is closed, the
/// reason is reported and the process ends with status 1 through exit.
/// Should no safe point come within TIMEOUT_GRACE_SECONDS, a second SIGALRM
/// ends the process at once.
void timeout_handler(int signal_number);

#endif
