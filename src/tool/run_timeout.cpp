#include "tool/run_timeout.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

#include "db/connection.h"
#include "db/connection_wait.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"
#include "env/safe_point.h"
#include "tool/panel_db.h"
#include "util/waited_children.h"

namespace {

// Why the run is to end: SIGALRM for the time-out, else the signal that
// ends it; 0 while it goes on.
volatile sig_atomic_t ending_signal = 0;

// The lines of the last-resort exit, by signal, prepared while it is safe
// to format.
struct PreparedLine {
    char text[TEXT_BUFFER_SIZE];
    std::size_t length;
};
PreparedLine last_resort_lines[NSIG];

// The message of a run ended by `signal_number`.
std::string ending_text(int signal_number) {
    if (signal_number == SIGALRM) return "Verstally timeout";
    const char* name = sigabbrev_np(signal_number);
    return std::string("Verstally ended by SIG") + (name != nullptr ? name : "?");
}

void prepare_last_resort_line(int signal_number) {
    PreparedLine& prepared = last_resort_lines[signal_number];
    const std::string line = message_line(ending_text(signal_number).c_str(), 0);
    prepared.length = std::min(line.size(), sizeof prepared.text - 1);
    std::memcpy(prepared.text, line.data(), prepared.length);
}

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

// Runs at every safe point once the run is to end: ends what it started,
// cancels a statement cut short, counts a time-out, closes panel_db,
// reports and ends the process.
void end_requested_run() {
    const int signal_number = ending_signal;
    if (signal_number == 0) return;
    // Nothing is left behind: every process the run started is ended and
    // reaped, wherever it moved.
    endEveryChild();
    // Writing on a connection whose socket the handler shut down must fail,
    // not end the process; no child is left to inherit the setting.
    signal(SIGPIPE, SIG_IGN);

    // A statement cut short on the client side may still wait in the server
    // (for a lock, say) and land later: it is cancelled first, on a
    // connection that works, and a time-out is counted there.
    const bool counted = signal_number == SIGALRM;
    const unsigned long cut_thread = aborted_statement_thread();
    resume_database_waits();
    if (counted || cut_thread != 0) {
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
    close_connection(panel_db);
    panel_db = nullptr;
    fatal_message("%s", ending_text(signal_number).c_str());
}

}  // namespace

void timeout_handler(int signal_number) {
    if (ending_signal == 0) {
        ending_signal = signal_number;
        // Whatever child or statement the run waits for is ended, so the
        // wait returns to a safe point.
        signalWaitedChildren(SIGKILL);
        abort_database_waits();
        alarm(TIMEOUT_GRACE_SECONDS);
        return;
    }
    // The run is ending already; only the grace alarm acts on it.
    if (signal_number != SIGALRM) return;
    // No safe point came: the process is stuck where it cannot end the run
    // cleanly. End it with async-signal-safe calls only.
    signalWaitedChildren(SIGKILL);
    const PreparedLine& line = last_resort_lines[ending_signal];
    ssize_t ignored = write(2, line.text, line.length);
    ignored = write(1, line.text, line.length);
    (void)ignored;
    _exit(1);
}

void reset_inherited_signals() {
    signal(SIGCHLD, SIG_DFL);
    sigset_t relied_on;
    sigemptyset(&relied_on);
    sigaddset(&relied_on, SIGALRM);
    sigaddset(&relied_on, SIGCHLD);
    for (int signal_number : RUN_ENDING_SIGNALS) sigaddset(&relied_on, signal_number);
    sigprocmask(SIG_UNBLOCK, &relied_on, nullptr);
}

void arm_run_timeout() {
    prepare_last_resort_line(SIGALRM);
    // What a child leaves running when it is ended becomes this process's
    // own child, so that the end of the run can end and reap it too.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    beginRunChildren();
    set_safe_point_routine(end_requested_run);
    // Without SA_RESTART, so that a blocking wait returns to a safe point.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = timeout_handler;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGALRM);
    for (int signal_number : RUN_ENDING_SIGNALS) sigaddset(&action.sa_mask, signal_number);
    action.sa_flags = 0;
    for (int signal_number : RUN_ENDING_SIGNALS) {
        struct sigaction current;
        // Ignored by the caller (nohup): the caller wants the run to outlive it.
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        prepare_last_resort_line(signal_number);
        if (sigaction(signal_number, &action, nullptr) != 0) fatal_error("Unable to arm the run time-out");
    }
    if (sigaction(SIGALRM, &action, nullptr) != 0) fatal_error("Unable to arm the run time-out");
    alarm(RUN_TIMEOUT_SECONDS);
}
