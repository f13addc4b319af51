#include "components/tool_probe.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "env/constants.h"
#include "env/file_trust.h"
#include "env/messages.h"
#include "env/safe_point.h"
#include "util/absence.h"
#include "util/child_process.h"
#include "util/exceptions.h"

namespace vonta {

namespace {

// The tool runs as root: only root, or the user it runs as, may own what
// decides which program that is (the entry below a sticky directory is
// checked in its turn).
bool safeTool(const struct stat& st) {
    return (st.st_mode & TOOL_MODE_MASK) == TOOL_MODE_REQUIRED && trusted_owner(st.st_uid) && !writable_by_others(st);
}

// What stat says of `path` is only as true as its file system: false on
// one whose owners and modes its server chooses (or when that cannot be
// told).
bool keptByKernel(const char* path) {
    struct statfs fs;
    if (statfs(path, &fs) != 0) return false;
    for (long type : SHARED_FILE_SYSTEM_TYPES)
        if (static_cast<long>(fs.f_type) == type) return false;
    return true;
}

// Puts the names of `path` ("" and "." left out) in front of `rest`.
void prependNames(const std::string& path, std::deque<std::string>& rest) {
    std::vector<std::string> names;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t slash = path.find('/', from);
        if (slash == std::string::npos) slash = path.size();
        std::string name = path.substr(from, slash - from);
        if (!name.empty() && name != ".") names.push_back(std::move(name));
        from = slash + 1;
    }
    rest.insert(rest.begin(), names.begin(), names.end());
}

std::string joinNames(const std::vector<std::string>& names, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += "/" + names[i];
    return path.empty() ? "/" : path;
}

// Follows `path` name by name from /, checking each step before taking the
// next one; true when every step is safe and the path ends in a safe tool,
// whose names without links are then in `resolved`. A link is followed
// only once it has passed. ".." leaves the directory the walk came from,
// which has passed already.
bool walkSafely(const std::string& path, std::vector<std::string>& resolved) {
    struct stat st;
    if (lstat("/", &st) != 0 || !safe_directory(st) || !keptByKernel("/")) return false;
    std::deque<std::string> rest;
    prependNames(path, rest);
    if (path.empty() || path[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd == nullptr) return false;
        prependNames(cwd, rest);
        std::free(cwd);
    }
    unsigned links = 0;
    while (!rest.empty()) {
        std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == "..") {
            if (!resolved.empty()) resolved.pop_back();
            continue;
        }
        resolved.push_back(std::move(name));
        const std::string here = joinNames(resolved, resolved.size());
        if (lstat(here.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) {
            if (!trusted_owner(st.st_uid) || ++links > MAX_TOOL_PATH_LINKS) return false;
            std::vector<char> target(PATH_MAX);
            const ssize_t length = readlink(here.c_str(), target.data(), target.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return false;
            resolved.pop_back();
            if (target[0] == '/') resolved.clear();
            prependNames(std::string(target.data(), static_cast<std::size_t>(length)), rest);
            continue;
        }
        if (!keptByKernel(here.c_str())) return false;
        if (rest.empty()) return safeTool(st);
        if (!safe_directory(st)) return false;
    }
    return false;  // a directory, not a tool
}

// A script runs its interpreter as root too: it must pass as the tool
// does, by an absolute path, and be no script itself (the kernel would run
// that one's interpreter in turn). True for a tool that is no script, and
// for a missing interpreter, which the start then names; an interpreter
// that cannot be looked at ends the process, as a tool does (toolPresent).
bool safeInterpreter(const std::string& tool, const char* label, const char* path, std::string& interpreter) {
    interpreter = scriptInterpreter(tool.c_str());
    struct stat st;
    if (interpreter.empty()) return true;
    if (interpreter[0] == '/' && stat(interpreter.c_str(), &st) != 0) {
        if (is_absence(errno)) return true;
        fatal_error("Unable to stat %s %s: interpreter %s: %s\n", label, path, interpreter.c_str(), std::strerror(errno));
    }
    std::vector<std::string> resolved;
    return interpreter[0] == '/' && walkSafely(interpreter, resolved) &&
           scriptInterpreter(joinNames(resolved, resolved.size()).c_str()).empty();
}

}  // namespace

bool toolPresent(const char* path, const char* label, CheckedTool& tool) {
    struct stat st;
    if (stat(path, &st) != 0) {
        if (is_absence(errno)) return false;
        fatal_error("Unable to stat %s %s: %s\n", label, path, std::strerror(errno));
    }
    std::vector<std::string> resolved;
    if (!walkSafely(path, resolved)) fatal_message("Bad file permissions on %s %s\n", label, path);
    const std::string executable = joinNames(resolved, resolved.size());
    std::string interpreter;
    if (!safeInterpreter(executable, label, path, interpreter))
        fatal_message("Bad file permissions on %s %s: interpreter %s\n", label, path, interpreter.c_str());
    tool.executable = executable;
    tool.directory = joinNames(resolved, resolved.size() - 1);
    const char* slash = std::strrchr(path, '/');
    tool.name = slash != nullptr ? slash + 1 : path;
    return true;
}

pid_t startTool(const char* executable, const char* argv0, const char* argument, int input, int& outputRead,
                const char* directory) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) fatal_error("Unable to open pipe: %s\n", std::strerror(errno));
    const std::vector<char*> argv = {const_cast<char*>(argv0), const_cast<char*>(argument), nullptr};
    ChildStart start;
    start.path = executable;
    start.argv = &argv;
    start.input = input;
    start.output = output[1];
    start.error = output[1];
    start.directory = directory;
    StartError failure;
    pid_t child;
    try {
        child = startChild(start, failure);
    } catch (const zev::ExSystemErrorBase& e) {
        errno = e.errorNumber;
        fatal_error("Unable to create child: %s\n", std::strerror(e.errorNumber));
    }
    // The tool was found: one that cannot start says nothing of what is
    // installed, and must not pass for an absent one.
    if (child < 0) {
        errno = failure.error;
        fatal_error("Unable to exec program %s: %s\n", executable, startErrorText(failure).c_str());
    }
    close(output[1]);
    outputRead = output[0];
    return child;
}

std::size_t readToolOutput(int fd, char* buffer, std::size_t size) {
    std::size_t kept = 0;
    char discard[READ_CHUNK_SIZE];
    for (;;) {
        char* target = kept < size ? buffer + kept : discard;
        std::size_t room = kept < size ? size - kept : sizeof discard;
        const ssize_t got = wait_through_interrupts([&] { return read(fd, target, room); });
        if (got > 0) {
            if (kept < size) kept += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0) break;
        fatal_error("Unable to read program output: %s\n", std::strerror(errno));
    }
    close(fd);
    return kept;
}

int waitForTool(pid_t child) {
    int status;
    if (!waitForChild(child, status)) fatal_error("Error occured during exec program: %s\n", std::strerror(errno));
    return status;
}

void requireAnswer(int status, const char* program, NoAnswer rule) {
    if (WIFSIGNALED(status)) {
        const char* name = sigabbrev_np(WTERMSIG(status));
        fatal_message("Program %s did not answer: it was ended by SIG%s\n", program, name != nullptr ? name : "?");
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    const bool failed = rule == NoAnswer::CouldNotRun ? code == 126 || code == 127 : code >= 2;
    if (failed) fatal_message("Program %s did not answer: it exited with status %d\n", program, code);
}

}  // namespace vonta
