#include "tool/modes.h"

#include <cstdlib>
#include <map>
#include <string>

#include "components/registry.h"
#include "env/constants.h"
#include "env/messages.h"
#include "env/product_conf.h"
#include "db/statement.h"
#include "env/semaphores.h"
#include "tool/panel_db.h"
#include "tool/run_timeout.h"
#include "env/safe_point.h"
#include "util/utf8.h"

namespace {

// Names and versions go into the statement escaped for panel_db, so that no
// tool output can break or change it; Debian versions come out unchanged.
// Bytes that are not UTF-8 become "?": the server would refuse the whole
// statement for them, and every other row with it.
void appendEscaped(std::string& statement, const std::string& raw) {
    statement += escape_sql_value(panel_db, replaceInvalidUtf8(raw));
}

}  // namespace

void update_components() {
    // A panel root the semaphore cannot be made under fails before the
    // database is asked anything.
    product_root();
    // First of what can block, so that nothing, the option files included,
    // runs without the time-out.
    arm_run_timeout();
    open_panel_db_or_exit();
    init_sem();
    // Another run holds the lock: it does the work, this one ends quietly.
    if (sem_lock(UPDATE_RUN_SEMAPHORE) == -1) std::exit(0);

    vonta::registerPackages();
    std::map<std::string, vonta::Package*> packages = vonta::createAllPackages();

    std::string statement = "REPLACE Components (name, version) VALUES";
    bool first = true;
    for (const auto& entry : packages) {
        if (!first) statement += ",";
        first = false;
        statement += "('";
        appendEscaped(statement, entry.first);
        statement += "','";
        if (entry.second->isInstalled())
            appendEscaped(statement, entry.second->getVersion());
        else
            statement += NOT_INSTALLED_VERSION;
        statement += "')";
    }

    // Answers given after the time-out struck (a probe whose tool it
    // killed reads as not installed) must never reach the table.
    safe_point();
    // A failed statement is the server's or the connection's failure: what
    // errno holds then is the client library's leftover, never the reason.
    if (mysql_query(panel_db, statement.c_str()) != 0)
        fatal_message("Unable to update Components in DB: %s", mysql_error(panel_db));
}
