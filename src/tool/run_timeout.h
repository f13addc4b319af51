#ifndef VERSTALLY_TOOL_RUN_TIMEOUT_H
#define VERSTALLY_TOOL_RUN_TIMEOUT_H

/// Arms the run time-out of the database modes: SIGALRM after
/// RUN_TIMEOUT_SECONDS goes to timeout_handler. Armed once, never cancelled.
void arm_run_timeout();

/// The SIGALRM handler. It only notes the time-out and ends the children
/// and the database wait the run is waiting for; at the next safe point
/// (env/safe_point.h) every process the run started is ended, the time-out
/// is counted in misc (verstally_fails), panel_db is closed, "Verstally
/// timeout" is reported and the process ends with status 1. Should no safe
/// point come within TIMEOUT_GRACE_SECONDS, a second SIGALRM ends the
/// process at once.
void timeout_handler(int signal_number);

#endif
