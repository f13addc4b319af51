#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tuple>

#include "harness/sandbox.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string USAGE =
    "Usage: verstally ([<package>]|--set-dirty-flag)\n"
    " verstally\n"
    "    updates components list in DB\n"
    " verstally --set-dirty-flag\n"
    "    creates the flag indicating that next autoprepend() call\n"
    "    will invoke verstally to update components list in the DB\n"
    " verstally <package>\n"
    "    shows the <package> version\n"
    " verstally --help\n"
    "    shows this message\n";
const std::string VERSION_LINE = std::string("verstally ") + VERSTALLY_VERSION + "\n";

class Tool : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_ROOT();
        sandbox.writeProductConf();
    }
    Outcome run(std::vector<std::string> args, std::string argv0 = "") {
        ToolRun r;
        r.args = std::move(args);
        r.argv0 = std::move(argv0);
        return runTool(sandbox, r);
    }
    Sandbox sandbox;
};

TEST_F(Tool, HelpAndVersionPrintButTwoOrMoreArgumentsFailWithUsage) {
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"-h"}, 0, USAGE},           {{"--help"}, 0, USAGE},          {{"-h", "extra"}, 1, USAGE},
        {{"--help", "x", "y"}, 1, USAGE}, {{"bind", "samba"}, 1, USAGE}, {{"--version", "x"}, 1, USAGE},
        {{"--version"}, 0, VERSION_LINE},
    };
    for (const auto& [args, status, out] : cases) {
        Outcome r = run(args, "/some/where/renamed");
        EXPECT_EQ(r.status, status) << args[0];
        EXPECT_EQ(r.out, out) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
    }
}

TEST_F(Tool, MissingKeyEndsEveryModeButTheVersionBeforeUsage) {
    // A key left out, an empty file, no file at all; a relative panel root,
    // which ends only the modes that make files under it.
    const std::tuple<std::function<void()>, std::string, bool> configurations[] = {
        {[&] { sandbox.writeProductConf("MYSQL_BIN_D"); }, "MYSQL_BIN_D not defined", true},
        {[&] { sandbox.writeFile("/etc/zev/zev.conf", ""); }, "PRODUCT_ROOT_D not defined", true},
        {[&] { ASSERT_EQ(unlink(sandbox.layerPath("/etc/zev/zev.conf").c_str()), 0); }, "PRODUCT_ROOT_D not defined",
         true},
        {[&] { sandbox.writeProductConf("", "relative/root"); },
         "PRODUCT_ROOT_D is not an absolute path: relative/root", false},
    };
    for (const auto& [configure, text, everyMode] : configurations) {
        configure();
        for (auto args : {std::vector<std::string>{"--help"}, {"-h", "x"}, {}, {"bind"}, {"--set-dirty-flag"}}) {
            if (!everyMode && !args.empty() && args[0] != "--set-dirty-flag") continue;
            Outcome r = run(args, "/usr/local/sbin/verstally");
            EXPECT_EQ(r.status, 1) << text;
            // The message of MYSQL_BIN_D carries errno, which may or may not
            // be set by then: its first line is fixed. The other is whole.
            const std::string message = "verstally: Error: " + text + "\n";
            EXPECT_EQ(text == "MYSQL_BIN_D not defined" ? r.err.substr(0, message.size()) : r.err, message);
            EXPECT_EQ(r.out, r.err);
            EXPECT_THAT(r.out, Not(HasSubstr("Usage:")));
        }
        Outcome version = run({"--version"});
        EXPECT_EQ(version.status, 0) << text;
        EXPECT_EQ(version.out, VERSION_LINE) << text;
    }
}

// Linux hands a program started with an empty argument vector an empty
// argv[0]; older kernels pass argc 0. Either way the tool must not crash
// and must report under its own name.
TEST_F(Tool, EmptyArgumentVectorReportsUnderTheToolsName) {
    sandbox.writeProductConf("DUMP_D");
    ToolRun r;
    r.noArguments = true;
    Outcome result = runTool(sandbox, r);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "verstally: Error: DUMP_D not defined\n");

    sandbox.writeProductConf();
    result = runTool(sandbox, r);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, StartsWith("verstally: "));
}

}  // namespace
