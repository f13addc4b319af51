#include "tool/run_end.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db/connection.h"
#include "db/connection_wait.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"
#include "env/safe_point.h"
#include "tool/panel_db.h"
#include "util/child_process.h"
#include "util/exceptions.h"
#include "util/waited_children.h"

namespace {

// Why the run is to end: the signal, 0 while it goes on; whether it is the
// run's own timer (the time-out, counted).
volatile sig_atomic_t ending_signal = 0;
volatile sig_atomic_t ending_by_timer = 0;
// Set once a run ended by a signal has said so: its exit then dies by it.
bool ended_by_signal = false;
// Whether the run starts programs, and so ends them.
bool starts_programs = false;

timer_t run_timer;

// The lines of the last-resort end, by signal (SIGALRM's is the
// time-out's; an outside SIGALRM's is `outside_alarm_line`), prepared while
// it is safe to format.
struct PreparedLine {
    char text[TEXT_BUFFER_SIZE];
    std::size_t length;
};
PreparedLine last_resort_lines[NSIG];
PreparedLine outside_alarm_line;

// The message of a run ended by `signal_number`.
std::string ending_text(int signal_number, bool by_timer) {
    if (by_timer) return "Verstally timeout";
    const char* name = sigabbrev_np(signal_number);
    return std::string("Verstally ended by SIG") + (name != nullptr ? name : "?");
}

void prepare_line(PreparedLine& prepared, int signal_number, bool by_timer) {
    const std::string line = message_line(ending_text(signal_number, by_timer).c_str(), 0);
    prepared.length = std::min(line.size(), sizeof prepared.text - 1);
    std::memcpy(prepared.text, line.data(), prepared.length);
}

// Ends the process by `signal_number`, its default action restored, without
// a core dump (it would show the end of a run, not a fault). Async-signal-safe.
[[noreturn]] void die_by(int signal_number) {
    const struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    struct sigaction standard;
    std::memset(&standard, 0, sizeof standard);
    standard.sa_handler = SIG_DFL;
    sigaction(signal_number, &standard, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // a signal whose default does not end a process
}

// The last step of the exit of a run that a signal ended: every other exit
// routine (connections closed, programs ended) has run.
void die_if_ended_by_signal() {
    if (!ended_by_signal) return;
    std::fflush(nullptr);
    die_by(ending_signal);
}

void arm_run_timer(unsigned seconds) {
    struct itimerspec when;
    std::memset(&when, 0, sizeof when);
    when.it_value.tv_sec = static_cast<time_t>(seconds);
    timer_settime(run_timer, 0, &when, nullptr);
}

// --- The run's processes ------------------------------------------------

bool all_digits(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

// The parent in the stat line of process `pid`; -1 when unreadable. The
// command name in parentheses may hold anything: the fields follow the
// last ')'.
pid_t parent_of(const char* pid) {
    char path[64];
    std::snprintf(path, sizeof path, PROC_STAT_FORMAT, pid);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char line[TEXT_BUFFER_SIZE];
    const ssize_t got = read(fd, line, sizeof line - 1);
    close(fd);
    if (got <= 0) return -1;
    line[got] = '\0';
    const char* end = std::strrchr(line, ')');
    int parent = -1;
    if (end == nullptr || std::sscanf(end + 1, " %*c %d", &parent) != 1) return -1;
    return parent;
}

// Kills every child of this process: those the kernel lists for its
// thread when it keeps such a list, else every process whose parent it is.
// The number killed; -1 when neither can be read.
int kill_every_child() {
    const pid_t self = getpid();
    int killed = 0;
    char path[64];
    std::snprintf(path, sizeof path, PROC_CHILDREN_FORMAT, static_cast<int>(self), static_cast<int>(self));
    if (FILE* list = std::fopen(path, "re")) {
        int child;
        while (std::fscanf(list, "%d", &child) == 1) killed += kill(child, SIGKILL) == 0;
        std::fclose(list);
        return killed;
    }
    DIR* processes = opendir(PROC_DIR);
    if (processes == nullptr) return -1;
    while (const dirent* entry = readdir(processes))
        if (all_digits(entry->d_name) && parent_of(entry->d_name) == self)
            killed += kill(std::atoi(entry->d_name), SIGKILL) == 0;
    closedir(processes);
    return killed;
}

// Ends and reaps every process the run started, wherever it moved: the
// run's process has no children but the run's, and as a child subreaper it
// inherits what their ends leave behind, so each round kills its children
// and reaps them, until none is left or CHILD_END_BOUND_MS have passed.
// Without /proc only the groups of the programs waited for are ended.
void end_every_process_of_the_run() {
    if (!starts_programs) return;
    signalWaitedChildren(SIGKILL);
    const long long deadline = monotonic_ms() + CHILD_END_BOUND_MS;
    for (;;) {
        reapEndedChildren();
        int left = kill_every_child();
        if (left < 0) left = runningWaitedChildren();
        if (left == 0 || monotonic_ms() >= deadline) break;
        const struct timespec pause = {0, 2 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

// --- Keeping the caller's children out ----------------------------------

// Whether the process has a child, alive or stopped (the ends of the
// caller's dead ones are reaped first: nobody else can).
bool has_children() {
    int status;
    while (waitpid(-1, &status, WNOHANG | __WALL) > 0) {
    }
    siginfo_t info;
    return waitid(P_ALL, 0, &info, WEXITED | WSTOPPED | WCONTINUED | WNOHANG | WNOWAIT | __WALL) == 0;
}

// The signals a stand-in passes on to the run, besides SIGCHLD, which tells
// it that the run ended.
sigset_t passed_on_signals() {
    sigset_t passed;
    sigemptyset(&passed);
    for (int signal_number : RUN_ENDING_SIGNALS) sigaddset(&passed, signal_number);
    sigaddset(&passed, SIGALRM);
    sigaddset(&passed, SIGCONT);
    return passed;
}

// The process the caller started, once the run goes on in its child `run`:
// it passes on the signals that end a run, SIGALRM and SIGCONT as they
// came, reaps the ends of its children, and when the run's comes, ends as
// the run did. A synchronous loop: it does nothing else.
[[noreturn]] void stand_in_for(pid_t run) {
    sigset_t waited = passed_on_signals();
    sigaddset(&waited, SIGCHLD);
    for (;;) {
        siginfo_t info;
        const int signal_number = sigwaitinfo(&waited, &info);
        if (signal_number == SIGCHLD) {
            int status;
            pid_t ended;
            while ((ended = waitpid(-1, &status, WNOHANG)) > 0) {
                if (ended != run) continue;
                if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
                die_by(WTERMSIG(status));
            }
        } else if (signal_number > 0) {
            // A code below 0 (sigqueue, a timer) can be passed on whole; the
            // others are the kernel's or kill's.
            if (info.si_code >= 0 || info.si_code == SI_TKILL ||
                syscall(SYS_rt_sigqueueinfo, run, signal_number, &info) != 0)
                kill(run, signal_number);
        }
    }
}

// When the process has children of the caller's, moves the run into a
// child of its own, for which this process then stands in. A child subreaper
// with a caller's job among its children could not tell what the job leaves
// behind from what the run does.
void keep_callers_children_out_of_the_run() {
    if (!has_children()) return;
    const sigset_t passed = passed_on_signals();
    sigset_t held = passed;
    sigaddset(&held, SIGCHLD);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &held, &previous);
    // Buffered output must not be written twice, once by each process.
    std::fflush(nullptr);
    const pid_t stand_in = getpid();
    const pid_t run = fork();
    if (run < 0) {
        const int error = errno;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        throwSystemError("forkExecvPipes: fork() failed", error);
    }
    if (run > 0) stand_in_for(run);
    // The run ends as if terminated when the stand-in is killed, and at once
    // when it is gone already.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != stand_in) _exit(1);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// What a run's programs leave behind becomes this process's child, is
// reaped as it ends (so that zombies do not pile up while the run goes on),
// and is ended with the rest when the run ends, however it ends.
void take_in_what_programs_leave() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = reapEndedChildren;
    sigemptyset(&action.sa_mask);
    // Restarted, so that an orphan's end interrupts no read of the run.
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (sigaction(SIGCHLD, &action, nullptr) != 0) fatal_error("Unable to reap the run's children");
    std::atexit(end_every_process_of_the_run);
}

// --- The end ------------------------------------------------------------

// Counts the time-out on `db`: "1" when the counter is absent or empty,
// else one more.
void count_timeout(MYSQL* db) {
    const char* fails = get_misc_param(TIMEOUT_COUNTER_PARAM, db);
    if (fails != nullptr && fails[0] != '\0') {
        const std::string increment =
            std::string("UPDATE misc SET val = val + 1 WHERE param = '") + TIMEOUT_COUNTER_PARAM + "'";
        // Like the first count's, a failure is said, not passed over.
        if (mysql_real_query(db, increment.data(), increment.size()) != 0)
            warn_message("Unable to update parameter %s in misc: %s", TIMEOUT_COUNTER_PARAM, mysql_error(db));
    } else {
        put_misc_param(TIMEOUT_COUNTER_PARAM, "1", db);
    }
}

// A statement cut short on the client side may still wait in the server
// (for a lock, say) and land later: it is cancelled, on a connection that
// works, and a time-out is counted there.
void cancel_and_count(bool counted) {
    const unsigned long cut_thread = aborted_statement_thread();
    resume_database_waits();
    if (!counted && cut_thread == 0) return;
    const bool panel_cut = panel_db != nullptr && cut_thread != 0 && mysql_thread_id(panel_db) == cut_thread;
    MYSQL* usable = panel_db;
    MYSQL* fresh = nullptr;
    if (panel_cut || panel_db == nullptr) {
        char message[DB_MESSAGE_BUFFER_SIZE];
        fresh = db_connect(message, sizeof message);
        usable = fresh;
    }
    if (usable != nullptr) {
        cancel_statement_of(usable, cut_thread);
        if (counted) count_timeout(usable);
    }
    close_connection(fresh);
}

// Runs at every safe point once the run is to end: ends what it started,
// cancels a statement cut short, counts a time-out, closes panel_db,
// reports and ends the process (a signal's run dying by it at the end of
// its exit).
void end_requested_run() {
    const int signal_number = ending_signal;
    if (signal_number == 0) return;
    const bool counted = ending_by_timer != 0;
    end_every_process_of_the_run();
    cancel_and_count(counted);
    close_connection(panel_db);
    panel_db = nullptr;
    ended_by_signal = !counted;
    fatal_message("%s", ending_text(signal_number, counted).c_str());
}

// The handler of SIGALRM and RUN_ENDING_SIGNALS. It notes why the run is
// to end and cuts short the wait in progress (the programs waited for are
// killed, a database wait fails at once); the run ends at its next safe
// point (env/safe_point.h). Should none come within TIMEOUT_GRACE_SECONDS,
// the run's timer strikes again and the process ends at once, as the
// reason requires, having written the reason.
void timeout_handler(int signal_number, siginfo_t* info, void*) {
    const bool by_timer = signal_number == SIGALRM && info != nullptr && info->si_code == SI_TIMER &&
                          info->si_value.sival_int == RUN_TIMER_MARK;
    if (ending_signal == 0) {
        ending_signal = signal_number;
        ending_by_timer = by_timer;
        // Whatever program or statement the run waits for is ended, so the
        // wait returns to a safe point.
        signalWaitedChildren(SIGKILL);
        abort_database_waits();
        arm_run_timer(TIMEOUT_GRACE_SECONDS);
        return;
    }
    // The run is ending already; only its timer acts on it, once the grace
    // is over: no safe point came, the process is stuck where it cannot end
    // the run cleanly. It ends with async-signal-safe calls only.
    if (!by_timer) return;
    signalWaitedChildren(SIGKILL);
    const int reason = ending_signal;
    const PreparedLine& line =
        ending_by_timer != 0 || reason != SIGALRM ? last_resort_lines[reason] : outside_alarm_line;
    ssize_t ignored = write(2, line.text, line.length);
    ignored = write(1, line.text, line.length);
    (void)ignored;
    if (ending_by_timer != 0) _exit(1);
    die_by(reason);
}

void catch_run_ending_signals() {
    // Without SA_RESTART, so that a blocking wait returns to a safe point.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = timeout_handler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGALRM);
    for (int signal_number : RUN_ENDING_SIGNALS) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : RUN_ENDING_SIGNALS) {
        struct sigaction current;
        // Ignored by the caller (nohup): the caller wants the run to outlive it.
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        prepare_line(last_resort_lines[signal_number], signal_number, false);
        if (sigaction(signal_number, &action, nullptr) != 0) fatal_error("Unable to arm the run time-out");
    }
    prepare_line(last_resort_lines[SIGALRM], SIGALRM, true);
    prepare_line(outside_alarm_line, SIGALRM, false);
    if (sigaction(SIGALRM, &action, nullptr) != 0) fatal_error("Unable to arm the run time-out");
}

}  // namespace

void take_charge_of_signals() {
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);
    sigset_t relied_on;
    sigemptyset(&relied_on);
    sigaddset(&relied_on, SIGALRM);
    sigaddset(&relied_on, SIGCHLD);
    for (int signal_number : RUN_ENDING_SIGNALS) sigaddset(&relied_on, signal_number);
    sigprocmask(SIG_UNBLOCK, &relied_on, nullptr);
    // First, so that it runs after every other exit routine.
    std::atexit(die_if_ended_by_signal);
}

void begin_guarded_run(RunPrograms programs) {
    if (programs == RunPrograms::Some) {
        keep_callers_children_out_of_the_run();
        starts_programs = true;
        bindChildrenToStarter();
        take_in_what_programs_leave();
    }
    // The timer exists before any handler that re-arms it can run.
    struct sigevent event;
    std::memset(&event, 0, sizeof event);
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGALRM;
    event.sigev_value.sival_int = RUN_TIMER_MARK;
    if (timer_create(CLOCK_MONOTONIC, &event, &run_timer) != 0) fatal_error("Unable to arm the run time-out");
    set_safe_point_routine(end_requested_run);
    catch_run_ending_signals();
    arm_run_timer(RUN_TIMEOUT_SECONDS);
}
