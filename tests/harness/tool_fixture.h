#ifndef VERSTALLY_TESTS_HARNESS_TOOL_FIXTURE_H
#define VERSTALLY_TESTS_HARNESS_TOOL_FIXTURE_H

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "harness/database.h"
#include "harness/sandbox.h"

/// A sandbox with the password file and a fresh database of its own, for
/// library code run inside it. Skips unless root.
class LibraryWithDatabase : public ::testing::Test {
protected:
    void SetUp() override;

    /// Runs `body` inside the sandbox in a captured child, as the program
    /// "verstally", with this test's database in the environment through
    /// the server's socket (or `env` when given).
    Outcome inside(const std::function<void()>& body, std::map<std::string, std::string> env = {});

    TestDatabase db;
    Sandbox sandbox;
};

/// The built tool with, besides, a product configuration.
class ToolWithDatabase : public LibraryWithDatabase {
protected:
    void SetUp() override;

    /// Runs verstally with `args` against the test database (`env` added).
    Outcome run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {});
    /// The run's settings, to adjust before runTool/startTool.
    ToolRun toolRun(const std::vector<std::string>& args) const;

    /// The first line of a message as the tool writes it.
    static std::string line(const std::string& text) { return "verstally: " + text + "\n"; }
};

/// Says that one row of the running test is not run on this machine, and
/// why: the line "[ NOT RUN  ] <suite>.<test>: <row>: <reason>" on standard
/// output and the test property "not_run", for whoever counts what was not
/// run. A row not run is no pass.
void rowNotRun(const std::string& row, const std::string& reason);

/// Makes the run's own timer strike in the tool `pid`: a SIGALRM carrying
/// the timer's code and mark, as the kernel sends it. False when it cannot
/// be sent.
bool strikeRunTimer(pid_t pid);

#endif
