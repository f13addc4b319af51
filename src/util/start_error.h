#ifndef VERSTALLY_UTIL_START_ERROR_H
#define VERSTALLY_UTIL_START_ERROR_H

#include <string>

// Why a child could not be started, in terms a caller can act on: which
// step failed, and whether the program is absent or is there but cannot
// run.

/// The step at which a start failed.
enum class StartStep {
    None,       ///< nothing failed
    DevNull,    ///< /dev/null, for a stream the caller left unset
    Directory,  ///< the working directory
    Identity,   ///< the account's groups or user
    Exec,       ///< the program
};

/// Why a program could not be started.
struct StartError {
    StartStep step = StartStep::None;
    /// The errno of the failed step.
    int error = 0;
    /// Exec only: nothing exists at the program's path. A program that is
    /// there but cannot run (its interpreter or loader missing, its file
    /// busy) is not absent.
    bool absent = false;
    /// What the failure is due to, when not the program itself: "/dev/null",
    /// the directory, the identity call that failed ("getpwuid" for an
    /// unknown account, "setgroups", "setgid", "setuid"), or the program's
    /// missing "interpreter <path>" or "loader <path>".
    std::string cause;
};

/// The reason of a failed start in words: "<cause>: <system's text>", or
/// the system's text alone when the program itself is the cause.
std::string startErrorText(const StartError& failure);

/// The interpreter the "#!" line of the file at `path` names (as the kernel
/// reads it: the first SCRIPT_HEADER_SIZE bytes); "" when the file has no
/// such line or cannot be read.
std::string scriptInterpreter(const char* path);

/// Completes the failure of an exec of `path`: an ENOENT means an absent
/// program only when nothing is at its path; otherwise the cause is the
/// interpreter its "#!" line names, or the loader its ELF header names.
void explainExecFailure(const char* path, StartError& failure);

#endif
