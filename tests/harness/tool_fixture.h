#ifndef VERSTALLY_TESTS_HARNESS_TOOL_FIXTURE_H
#define VERSTALLY_TESTS_HARNESS_TOOL_FIXTURE_H

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "harness/database.h"
#include "harness/sandbox.h"

/// The built tool with a product configuration, the password file and a
/// fresh database of its own, reached through the server's socket.
class ToolWithDatabase : public ::testing::Test {
protected:
    void SetUp() override;

    /// Runs verstally with `args` against the test database (`env` added).
    Outcome run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {});
    /// The run's settings, to adjust before runTool/startTool.
    ToolRun toolRun(const std::vector<std::string>& args) const;

    /// The first line of a message as the tool writes it.
    static std::string line(const std::string& text) { return "verstally: " + text + "\n"; }

    Sandbox sandbox;
    TestDatabase db;
};

#endif
