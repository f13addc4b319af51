#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "env/messages.h"
#include "env/safe_point.h"
#include "harness/capture.h"

namespace {

TEST(Messages, PrefixAndNewlineRuleOnBothStreamsAndANonZeroCodeEnds) {
    Outcome r = captureInChild([] {
        program_path = "/usr/sbin/verstally";
        errno = 0;
        emit_error("plain text", 0);
        emit_error("ends in newline\n", 0);
        emit_error("100% literal %s", 0);
        // No prefix without a program path; an empty text is one line.
        program_path = nullptr;
        emit_error("bare", 0);
        emit_error("", 0);
        program_path = "verstally";
        emit_error("fatal", 1);
        emit_error("never printed", 0);
    });
    const std::string expected =
        "verstally: plain text\nverstally: ends in newline\nverstally: 100% literal %s\nbare\n\nverstally: fatal\n";
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.out, expected);
}

// Long texts and their suffix are never cut, also where the suffix crosses
// the end of the first buffer.
TEST(Messages, ReportErrorAppendsSavedErrnoAndCutsNothing) {
    const std::string longText(5000, 'x'), y(4090, 'y'), z(4090, 'z');
    Outcome r = captureInChild([&] {
        program_path = "./bin/verstally";
        errno = ENOENT;
        report_error(0, "Error: %s not defined in product config file", "FTPD_BIN_D");
        errno = 0;
        report_error(0, "no errno %d", 7);
        // The plain forms never carry a reason, and leave errno as it was.
        errno = EAGAIN;
        warn_message("plain %d", 8);
        if (errno != EAGAIN) warn_message("errno changed");
        errno = EPERM;
        report_error(0, "%s|end", longText.c_str());
        errno = 0;
        report_error(0, "%s%s", y.c_str(), "123456");  // exactly 4096
        errno = EIO;
        report_error(0, "%s", z.c_str());
        errno = EACCES;
        report_error(3, "with newline\n");
    });
    const std::string expected = std::string("verstally: Error: FTPD_BIN_D not defined in product config file\n") +
                                 "System error 2: " + std::strerror(ENOENT) + "\n" + "verstally: no errno 7\n" +
                                 "verstally: plain 8\n" + "verstally: " + longText + "|end\nSystem error 1: " +
                                 std::strerror(EPERM) + "\nverstally: " + y + "123456\nverstally: " + z +
                                 "\nSystem error 5: " + std::strerror(EIO) + "\n" +
                                 "verstally: with newline\nSystem error 13: " + std::strerror(EACCES) + "\n";
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(r.out, expected);
}

// A pending end of the run is acted on before any message, a warning
// included; the routine's own messages do not call it again.
TEST(Messages, EveryMessageIsASafePointWhoseRoutineMayTakeOver) {
    Outcome r = captureInChild([] {
        program_path = "verstally";
        set_safe_point_routine([] { emit_error("routine", 0); });
        emit_error("warning", 0);
        emit_error("fatal", 1);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "verstally: routine\nverstally: warning\nverstally: routine\nverstally: fatal\n");

    Outcome takeover = captureInChild([] {
        program_path = "verstally";
        set_safe_point_routine([] { emit_error("taken over", 7); });
        warn_message("original");
    });
    EXPECT_EQ(takeover.status, 7);
    EXPECT_EQ(takeover.out, "verstally: taken over\n");
}

}  // namespace
