#ifndef VERSTALLY_TESTS_HARNESS_SANDBOX_H
#define VERSTALLY_TESTS_HARNESS_SANDBOX_H

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "harness/capture.h"

/// Fixture files at the system's real paths, seen only by processes that
/// enter the sandbox: a private mount namespace in which /etc, /usr,
/// /var/lib/mysql, /tmp and /dev are overlays whose upper layers live in
/// the sandbox directory (all but /etc only when the test put something
/// there), and /proc is replaced by the sandbox's own proc directory when
/// the test provides one (the entering process keeps its own entry there
/// as self and <pid>). Nothing of the machine that could steer what runs
/// inside is seen (sandbox.cpp lists what is kept out), and nothing of the
/// machine changes, in a plain chroot too. Entering needs root; tests call
/// SKIP_UNLESS_ROOT first. Set-up steps that fail throw std::runtime_error.
class Sandbox {
public:
    Sandbox();
    /// A sandbox in `directory`, an absolute path that a script made and
    /// filled; it is kept when the object ends.
    explicit Sandbox(const std::string& directory);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    /// The sandbox directory (outside every overlaid tree).
    const std::string& root() const { return root_; }
    /// Where the file seen at `realPath` inside is kept outside; a path below
    /// root() is such a place already. The routines below take either.
    std::string layerPath(const std::string& realPath) const;

    /// Puts a file at `realPath` (parents created).
    void writeFile(const std::string& realPath, const std::string& content, mode_t mode = 0644) const;
    /// Puts a directory at `realPath`.
    void makeDir(const std::string& realPath, mode_t mode = 0755) const;
    /// Hides what the machine has at `realPath` (an overlay whiteout).
    void remove(const std::string& realPath) const;
    /// Puts a symbolic link to `target` at `realPath`.
    void symlink(const std::string& target, const std::string& realPath) const;
    /// Content at `realPath` as left by the processes that ran inside.
    std::string readFile(const std::string& realPath) const;

    /// Writes a product configuration with all 23 keys, PRODUCT_ROOT_D set
    /// to `productRoot` (default: productRoot()), leaving out `omit`.
    void writeProductConf(const std::string& omit = "", const std::string& productRoot = "") const;
    /// A product root directory inside the sandbox (with var/ and tmp/).
    std::string productRoot() const { return root_ + "/product"; }

    /// Moves the calling process into the sandbox (call it in a child).
    void enter() const;

private:
    /// Puts into the upper layer of /etc what hides the machine's files.
    void keepOutTheMachine() const;

    std::string root_;
    bool owned_ = true;
};

/// The accounts of a sandbox whose test writes none: root and nobody
/// (uid and gid 65534).
extern const char* const SANDBOX_PASSWD;
extern const char* const SANDBOX_GROUP;

/// Options of a run of the built tool inside a sandbox.
struct ToolRun {
    std::vector<std::string> args;                 // after argv[0]
    std::map<std::string, std::string> env;        // the whole environment besides PATH
    uid_t uid = 0;                                 // identity to run as (0: as is)
    gid_t gid = 0;
    long maxProcesses = -1;                        // RLIMIT_NPROC, -1: unchanged
    std::string argv0;                             // default: the binary's path
    bool noArguments = false;                      // start with an empty argument vector
    bool closeStandardStreams = false;             // start with 0, 1 and 2 closed
    bool outputUnread = false;                     // standard output a pipe nobody reads
    std::string wrapper;      // shell text run first by a shell that then execs the tool
    bool hostileSignals = false;  // start ignoring SIGCHLD, with SIGALRM, SIGCHLD and SIGTERM blocked
};

/// Runs the built verstally inside the sandbox; waits and captures.
Outcome runTool(const Sandbox& sandbox, const ToolRun& run);
/// Starts it without waiting; returns the pid (streams go to the paths).
/// A step of the child's set-up that fails ends it with status 125.
int startTool(const Sandbox& sandbox, const ToolRun& run, const std::string& outPath, const std::string& errPath);
/// Runs `body` inside the sandbox in a forked child, captured.
Outcome runInSandbox(const Sandbox& sandbox, const std::function<void()>& body);
/// Moves the calling process (a child) into a mount namespace of its own
/// whose mounts are all private, so that nothing mounted there reaches the
/// machine; in a plain chroot too. childFailed on failure.
void enterPrivateMountNamespace();

#define SKIP_UNLESS_ROOT()                                                   \
    do {                                                                     \
        if (geteuid() != 0) GTEST_SKIP() << "needs root for mount namespaces"; \
    } while (0)

#endif
