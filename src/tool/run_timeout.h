#ifndef VERSTALLY_TOOL_RUN_TIMEOUT_H
#define VERSTALLY_TOOL_RUN_TIMEOUT_H

/// Arms the run time-out of the database modes: SIGALRM after
/// RUN_TIMEOUT_SECONDS goes to timeout_handler. Armed once, never cancelled.
void arm_run_timeout();

/// The SIGALRM handler. It only notes the time-out and ends the children
/// being waited for; the counting and the exit follow at the next safe
/// point (check_run_timeout). Should none come within
/// TIMEOUT_GRACE_SECONDS, a second SIGALRM ends the process at once.
void timeout_handler(int signal_number);

/// At a safe point: when the time-out has struck, counts it in misc
/// (verstally_fails), closes panel_db, reports "Verstally timeout" and ends
/// the process with status 1. Returns otherwise.
void check_run_timeout();

#endif
