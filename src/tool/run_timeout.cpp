#include "tool/run_timeout.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <libgen.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "db/connection.h"
#include "db/connection_wait.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"
#include "tool/panel_db.h"
#include "util/child_process.h"

namespace {

volatile sig_atomic_t timeout_struck = 0;
bool timeout_handled = false;

// The line of the last-resort exit, prepared while it is safe to format.
char last_resort_line[TEXT_BUFFER_SIZE];
std::size_t last_resort_length = 0;

void prepare_last_resort_line() {
    char path_copy[TEXT_BUFFER_SIZE];
    std::snprintf(path_copy, sizeof path_copy, "%s", program_path != nullptr ? program_path : "");
    int length = program_path != nullptr
                     ? std::snprintf(last_resort_line, sizeof last_resort_line, "%s: Verstally timeout\n", basename(path_copy))
                     : std::snprintf(last_resort_line, sizeof last_resort_line, "Verstally timeout\n");
    last_resort_length = length < 0 ? 0 : std::min(static_cast<std::size_t>(length), sizeof last_resort_line - 1);
}

// Counts the time-out on `db`: "1" when the counter is absent or empty,
// else one more.
void count_timeout(MYSQL* db) {
    const char* fails = get_misc_param(TIMEOUT_COUNTER_PARAM, db);
    if (fails != nullptr && fails[0] != '\0') {
        const std::string increment =
            std::string("UPDATE misc SET val = val + 1 WHERE param = '") + TIMEOUT_COUNTER_PARAM + "'";
        mysql_real_query(db, increment.data(), increment.size());
    } else {
        put_misc_param(TIMEOUT_COUNTER_PARAM, "1", db);
    }
}

void finish_timeout() {
    // The counting may fail fatally itself; the time-out is reported once.
    if (timeout_handled) return;
    timeout_handled = true;
    // Nothing is left behind: the children waited for are ended and reaped.
    reapWaitedChildren();
    // Writing on a connection whose socket the handler shut down must fail,
    // not end the process; no child is left to inherit the setting.
    signal(SIGPIPE, SIG_IGN);

    // A statement cut short on the client side may still wait in the server
    // (for a lock, say) and land later: it is cancelled first, on a
    // connection that works, and the time-out is counted there.
    bool panel_cut = false;
    const unsigned long cut_thread = resume_database_waits(panel_db, &panel_cut);
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
    if (fresh != nullptr) mysql_close(fresh);
    if (panel_db != nullptr) mysql_close(panel_db);
    panel_db = nullptr;
    // No system call failed here: a stale errno would add a false reason.
    errno = 0;
    fatal_error("Verstally timeout");
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

void check_run_timeout() {
    if (timeout_struck != 0) finish_timeout();
}

void arm_run_timeout() {
    prepare_last_resort_line();
    // What a child leaves running when it is ended becomes this process's
    // own child, so that the time-out can end and reap it too.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    setChildWaitInterruptHook(check_run_timeout);
    set_fatal_exit_hook(check_run_timeout);
    // Without SA_RESTART, so that a blocking wait returns to a safe point.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = timeout_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(SIGALRM, &action, nullptr) != 0) fatal_error("Unable to arm the run time-out");
    alarm(RUN_TIMEOUT_SECONDS);
}
