#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libgen.h>
#include <string>
#include <unistd.h>

#include "components/tool_probe.h"
#include "components/vendor_packages.h"
#include "db/connection.h"
#include "db/param_store.h"
#include "env/constants.h"
#include "env/messages.h"

namespace vonta {

namespace {

// Reads one misc parameter into `target`; false when it is unreadable or
// shorter than two characters.
bool readInstanceParam(const char* name, MYSQL* db, char* target) {
    const char* value = get_misc_param(name, db);
    if (value == nullptr || std::strlen(value) < 2) return false;
    std::snprintf(target, TEXT_BUFFER_SIZE, "%s", value);
    return true;
}

[[noreturn]] void startTool(const char* tool, const std::string& executable, const char* argument, const int output[2],
                            const int status[2]) {
    close(status[0]);
    char dirCopy[TEXT_BUFFER_SIZE];
    std::snprintf(dirCopy, sizeof dirCopy, "%s", tool);
    const char* directory = dirname(dirCopy);
    if (chdir(directory) != 0) {
        const int error = errno;
        tellToolNotStarted(status[1]);
        errno = error;
        fatal_error("Unable to change directory to %s: %s\n", directory, std::strerror(error));
    }
    close(0);
    close(1);
    close(2);
    close(output[0]);
    if (dup2(output[1], 1) < 0 || dup2(output[1], 2) < 0) {
        const int error = errno;
        tellToolNotStarted(status[1]);
        errno = error;
        fatal_error("Unable to duplicate a file descriptor: %s\n", std::strerror(error));
    }
    closeAllButStatusPipe(status[1]);
    char baseCopy[TEXT_BUFFER_SIZE];
    std::snprintf(baseCopy, sizeof baseCopy, "%s", tool);
    execToolOrReport(executable.c_str(), basename(baseCopy), argument, status[1]);
}

}  // namespace

ColdfusionPackage::~ColdfusionPackage() = default;

void ColdfusionPackage::fetchVersion() {
    char type[TEXT_BUFFER_SIZE] = {};
    char path[TEXT_BUFFER_SIZE] = {};
    char tool[TEXT_BUFFER_SIZE] = {};
    char argument[TEXT_BUFFER_SIZE] = {};
    char output[TEXT_BUFFER_SIZE] = {};

    MYSQL* db = open_panel_db();
    if (db == nullptr) fatal_error("%s", DB_CONNECT_FAILURE);
    const bool configured = readInstanceParam(CF_INSTANCE_TYPE_PARAM, db, type) &&
                            readInstanceParam(CF_INSTANCE_PATH_PARAM, db, path);
    mysql_close(db);
    if (!configured) return;

    const bool j2ee = std::strcmp(type, CF_J2EE_TYPE) == 0;
    // A path too long to hold cannot name an existing tool; cutting it
    // could name a different one.
    const int length = std::snprintf(tool, sizeof tool, "%s/bin/%s", path, j2ee ? CF_J2EE_TOOL : CF_STANDARD_TOOL);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof tool) return;
    std::snprintf(argument, sizeof argument, "%s", j2ee ? CF_J2EE_TOOL_ARG : CF_STANDARD_TOOL_ARG);

    std::string executable;
    if (!toolPresent(tool, "Bad file permissions on ColdFusion binary file %s\n", executable)) return;

    int outputPipe[2];
    int statusPipe[2];
    openToolPipe(outputPipe);
    openToolPipe(statusPipe);
    const pid_t child = forkTool();
    if (child == 0) startTool(tool, executable, argument, outputPipe, statusPipe);
    close(outputPipe[1]);
    close(statusPipe[1]);

    const std::size_t got = readToolOutput(outputPipe[0], output, sizeof output);
    const bool started = toolStarted(statusPipe[0]);
    waitForTool(child);
    // A tool that could not be started says nothing about an installation.
    if (!started) return;

    std::size_t end = 0;
    while (end < got && output[end] != '\n' && output[end] != '\0') ++end;
    version.assign(output, end);
    installed = true;
}

}  // namespace vonta
