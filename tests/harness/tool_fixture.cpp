#include "harness/tool_fixture.h"

void LibraryWithDatabase::SetUp() {
    SKIP_UNLESS_ROOT();
    writePasswordFile(sandbox, "\n");
}

Outcome LibraryWithDatabase::inside(const std::function<void()>& body, std::map<std::string, std::string> env) {
    if (env.empty()) env = db.socketEnv();
    return runWithDatabase(sandbox, env, body);
}

void ToolWithDatabase::SetUp() {
    LibraryWithDatabase::SetUp();
    if (IsSkipped()) return;
    sandbox.writeProductConf();
}

ToolRun ToolWithDatabase::toolRun(const std::vector<std::string>& args) const {
    ToolRun r;
    r.args = args;
    r.env = db.socketEnv();
    return r;
}

Outcome ToolWithDatabase::run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    ToolRun r = toolRun(args);
    for (const auto& entry : env) r.env[entry.first] = entry.second;
    return runTool(sandbox, r);
}
