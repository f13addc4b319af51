#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "components/tool_probe.h"
#include "components/coldfusion_package.h"
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
    close_connection(db);
    if (!configured) return;

    const bool j2ee = std::strcmp(type, CF_J2EE_TYPE) == 0;
    // A path too long to hold cannot name an existing tool; cutting it
    // could name a different one.
    const int length = std::snprintf(tool, sizeof tool, "%s/bin/%s", path, j2ee ? CF_J2EE_TOOL : CF_STANDARD_TOOL);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof tool) return;
    std::snprintf(argument, sizeof argument, "%s", j2ee ? CF_J2EE_TOOL_ARG : CF_STANDARD_TOOL_ARG);

    CheckedTool checked;
    if (!toolPresent(tool, "ColdFusion binary file", checked)) return;
    // The tool runs in the directory that was checked, named as it is
    // known there.
    int fromTool;
    const pid_t child =
        startTool(checked.executable.c_str(), checked.name.c_str(), argument, -1, fromTool, checked.directory.c_str());
    const std::size_t got = readToolOutput(fromTool, output, sizeof output);
    requireAnswer(waitForTool(child), checked.executable.c_str(), NoAnswer::CouldNotRun);

    std::size_t end = 0;
    while (end < got && output[end] != '\n' && output[end] != '\0') ++end;
    version.assign(output, end);
    installed = true;
}

}  // namespace vonta
