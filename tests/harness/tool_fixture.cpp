#include "harness/tool_fixture.h"

#include <unistd.h>

void ToolWithDatabase::SetUp() {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for mount namespaces";
    sandbox.writeProductConf();
    writePasswordFile(sandbox);
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
