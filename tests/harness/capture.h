#ifndef VERSTALLY_TESTS_HARNESS_CAPTURE_H
#define VERSTALLY_TESTS_HARNESS_CAPTURE_H

#include <functional>
#include <string>

/// How a child ended and what it wrote.
struct Outcome {
    bool exited = false;  // ended through exit (else by a signal)
    int status = -1;      // exit status, or the signal number
    std::string out;      // standard output
    std::string err;      // standard error
};

/// Runs `body` in a forked child with both output streams captured; the
/// child exits 0 when `body` returns and 125 when it throws (the exception
/// never leaves the child). Lets exit paths be tested. Throws
/// std::runtime_error when the child cannot be started or waited for.
Outcome captureInChild(const std::function<void()>& body);

/// Waits for `pid`, whose streams were sent to the files `outPath` and
/// `errPath`, and collects them (the files are removed). Throws
/// std::runtime_error when the wait fails.
Outcome collectChild(int pid, const std::string& outPath, const std::string& errPath);

/// A new empty file under /var/tmp for a captured stream; throws
/// std::runtime_error when it cannot be made.
std::string captureFile(const char* tag);

/// For a forked child that must not return into the test binary: reports
/// `what` on standard error and ends with status 125.
[[noreturn]] void childFailed(const std::string& what);
/// In a forked child: opens `path` with `flags` (mode 0644 when created)
/// on descriptor `target`, the original closed; childFailed when a step
/// fails.
void redirectInChild(int target, const std::string& path, int flags);

/// Whole content of a file, "" when it cannot be read.
std::string readWholeFile(const std::string& path);

#endif
