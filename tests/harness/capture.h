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

/// Runs `body` in a forked child and returns its pid. The child exits 0
/// when `body` returns and 125 when it throws: it never returns into the
/// test binary. It is sent SIGTERM when the process that started it ends
/// (see dieWithParent), so that a test run that is killed leaves nothing
/// running. Throws std::runtime_error when fork fails.
int startChild(const std::function<void()>& body);
/// In a child of startChild: asks again for SIGTERM when the process that
/// started it ends (a change of identity clears that), and exits 125 when it
/// has ended already.
void dieWithParent();
/// In a forked child: reports `what` on standard error, after
/// childFailurePrefix and ": ", and exits 125.
[[noreturn]] void childFailed(const std::string& what);
/// What childFailed reports under: "test child" unless a program sets its name.
extern const char* childFailurePrefix;
/// In a forked child: opens `path` with `flags` (mode 0644 when created)
/// on descriptor `target`, the original closed; childFailed on failure.
void redirectInChild(int target, const std::string& path, int flags);

/// startChild with both output streams captured. Lets exit paths be tested.
Outcome captureInChild(const std::function<void()>& body);

/// Waits for the child `pid` and returns its wait status. A child that has
/// not ended within CHILD_DEADLINE_SECONDS is hung: it is sent SIGTERM (the
/// tool then ends what it started), SIGKILL when that does not end it, and
/// std::runtime_error is thrown, as it is when the wait fails.
int awaitChild(int pid);
/// Waits for `pid` through awaitChild, whose streams were sent to the files
/// `outPath` and `errPath`, and collects them (the files are removed).
Outcome collectChild(int pid, const std::string& outPath, const std::string& errPath);
/// True once the child `pid` has ended (it is left to be collected).
bool hasEnded(int pid);
/// A new empty file under /var/tmp for a captured stream (throws on failure).
std::string captureFile(const char* tag);

/// Whole content of a file, "" when it cannot be read.
std::string readWholeFile(const std::string& path);

#endif
