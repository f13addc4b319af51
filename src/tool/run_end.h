#ifndef VERSTALLY_TOOL_RUN_END_H
#define VERSTALLY_TOOL_RUN_END_H


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
///      it (passing on the signals that end a run, SIGALRM and SIGCONT,
///      then ending as the run ended);
///   2. takes in whatever the run's programs leave behind, as a child
///      subreaper, and reaps it as it ends;
///   3. starts each program to die with the process that started it, so
///      that a run killed outright leaves none of them running;
///   4. ends, whatever way the run ends, every process it started,
///      wherever it moved: the run's process then has no children but the
///      run's, so that they are known by descent, not guessed.
/// Ends the process with "Unable to arm the run time-out" when the timer or
/// a handler cannot be set, and throws "forkExecvPipes: fork() failed" when
/// the run's own process cannot be made.
void begin_guarded_run(RunPrograms programs);

#endif
