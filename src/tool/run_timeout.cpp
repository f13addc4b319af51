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

volatile sig_atomic_t timeout_struck = 0;

// The line of the last-resort exit, prepared while it is safe to format.
char last_resort_line[TEXT_BUFFER_SIZE];
std::size_t last_resort_length = 0;

void prepare_last_resort_line() {
    const std::string line = message_line("Verstally timeout", 0);
    last_resort_length = std::min(line.size(), sizeof last_resort_line - 1);
    std::memcpy(last_resort_line, line.data(), last_resort_length);
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

// Runs at every safe point once the time-out has struck: counts it,
// closes panel_db, reports and ends the process.
void end_timed_out_run() {
    if (timeout_struck == 0) return;
    // Nothing is left behind: every process the run started is ended and
    // reaped, wherever it moved.
    endEveryChild();
    // Writing on a connection whose socket the handler shut down must fail,
    // not end the process; no child is left to inherit the setting.
    signal(SIGPIPE, SIG_IGN);

    // A statement cut short on the client side may still wait in the server
    // (for a lock, say) and land later: it is cancelled first, on a
    // connection that works, and the time-out is counted there.
    const unsigned long cut_thread = aborted_statement_thread();
    resume_database_waits();
    const bool panel_cut = panel_db != nullptr && cut_thread != 0 && mysql_thread_id(panel_db) == cut_thread;
    MYSQL* counter = panel_db;
    MYSQL* fresh = nullptr;
    if (panel_cut || panel_db == nullptr) {
        char message[DB_MESSAGE_BUFFER_SIZE];
        fresh = db_connect(message, sizeof message);
        counter = fresh;
    }
    if (counter != nullptr) {
        cancel_statement_of(counter, cut_thread);
        count_timeout(counter);
    }
    close_connection(fresh);
    close_connection(panel_db);
    panel_db = nullptr;
    fatal_message("Verstally timeout");
}

}  // namespace

void timeout_handler(int) {
    if (timeout_struck == 0) {
        timeout_struck = 1;
        // Whatever child or statement the run waits for is ended, so the
        // wait returns to a safe point.
        signalWaitedChildren(SIGKILL);
        abort_database_waits();
        alarm(TIMEOUT_GRACE_SECONDS);
        return;
    }
    // No safe point came: the process is stuck where it cannot count the
    // time-out. End it with async-signal-safe calls only.
    signalWaitedChildren(SIGKILL);
    ssize_t ignored = write(2, last_resort_line, last_resort_length);
    ignored = write(1, last_resort_line, last_resort_length);
    (void)ignored;
    _exit(1);
}

void arm_run_timeout() {
    prepare_last_resort_line();
    // What a child leaves running when it is ended becomes this process's
    // own child, so that the time-out can end and reap it too.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    set_safe_point_routine(end_timed_out_run);
    // Without SA_RESTART, so that a blocking wait returns to a safe point.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = timeout_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(SIGALRM, &action, nullptr) != 0) fatal_error("Unable to arm the run time-out");
    alarm(RUN_TIMEOUT_SECONDS);
}
