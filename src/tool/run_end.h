#ifndef VERSTALLY_TOOL_RUN_END_H
#define VERSTALLY_TOOL_RUN_END_H

#include <csignal>

// How a database mode ends when it does not end on its own:
//  - at its time-out, RUN_TIMEOUT_SECONDS on the run's own timer: the
//    time-out is counted in misc (verstally_fails), "Verstally timeout",
//    status 1;
//  - by one of RUN_ENDING_SIGNALS, or a SIGALRM that is not its timer's:
//    nothing is counted, "Verstally ended by SIG<name>", and the process
//    then dies by that signal (its default action restored, without a core
//    dump), so that a shell loop stops and a service manager records a
//    stop rather than a failure.
// Either way every process the run started is ended first, a statement cut
// short is cancelled in the server, nothing is written, and every
// connection is closed with the client's goodbye. A signal that the caller
// ignored (nohup) stays ignored.

/// At the start of every mode: what the caller set for signals and the run
/// relies on is undone. SIGCHLD goes back to its default (a caller that
/// ignores it would have the kernel reap the run's children before their
/// waits), SIGALRM, SIGCHLD and RUN_ENDING_SIGNALS are unblocked (a blocked
/// one would hold off the end), and SIGPIPE is ignored (a closed output
/// fails a write, it does not end the process).
void take_charge_of_signals();

/// Whether a mode starts programs.
enum class RunPrograms { None, Some };

/// From here on the mode ends as described above. One that starts programs
/// besides:
///   1. keeps the caller's children out of the run: when the process has
///      any (a wrapper that executed the tool leaves its jobs to it), the
///      run goes on in a child of its own, and this process stands in for
///      it (passing on the signals it gets, then ending as the run ended);
///   2. takes in whatever the run's programs leave behind, as a child
///      subreaper, and reaps it as it ends;
///   3. ends, whatever way the run ends, every process it started,
///      wherever it moved: the run's process then has no children but the
///      run's, so that they are known by descent, not guessed.
/// Ends the process with "Unable to arm the run time-out" when the timer or
/// a handler cannot be set, and throws "forkExecvPipes: fork() failed" when
/// the run's own process cannot be made.
void begin_guarded_run(RunPrograms programs);

/// The handler of SIGALRM and RUN_ENDING_SIGNALS. It notes why the run is
/// to end and cuts short the wait in progress (the programs waited for are
/// killed, a database wait fails at once); the run ends at its next safe
/// point (env/safe_point.h). Should none come within TIMEOUT_GRACE_SECONDS,
/// the run's timer strikes again and the process ends at once, as the
/// reason requires, having written the reason.
void timeout_handler(int signal_number, siginfo_t* info, void* context);

#endif
