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
/// child exits 0 when `body` returns. Lets exit paths be tested.
Outcome captureInChild(const std::function<void()>& body);

/// Waits for `pid`, whose streams were sent to the files `outPath` and
/// `errPath`, and collects them (the files are removed).
Outcome collectChild(int pid, const std::string& outPath, const std::string& errPath);

/// Whole content of a file, "" when it cannot be read.
std::string readWholeFile(const std::string& path);

#endif
