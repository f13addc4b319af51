// Sanitizer settings of every program of the sanitizer build (the tool, the
// test programs and their helpers), compiled in because the tests start the
// tool with an environment of their own; ASAN_OPTIONS, UBSAN_OPTIONS and
// LSAN_OPTIONS still override them.
// 1. A finding ends the process with status 86, which no program of the
//    project uses, so that a test asserting an exit status fails on it.
// 2. AddressSanitizer and LeakSanitizer also write every report to
//    <report dir>/report.<pid>; the last test of the run fails when that
//    directory is not empty, so a finding in a process whose status no test
//    looks at fails the run too. (GCC's UndefinedBehaviorSanitizer runtime
//    writes to standard error only; its findings are fatal, so the status
//    and the output of the process show them.)
// 3. Leak detection is on at every exit, except where it cannot run: it
//    stops the threads from a helper task that it clones, found through
//    /proc/<pid>/task. A process without that entry or without room for
//    another process (RLIMIT_NPROC 0, as a test of a failing fork sets it)
//    runs with every other check on.
// The hooks run before the runtimes are set up, so they call nothing that
// the runtimes intercept (this file is built without instrumentation).
#include <sys/resource.h>
#include <unistd.h>

#define VERSTALLY_SANITIZER_COMMON "exitcode=86:log_path=" VERSTALLY_SANITIZER_REPORT_PREFIX
#define VERSTALLY_ASAN_OPTIONS \
    VERSTALLY_SANITIZER_COMMON ":check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"

namespace {

bool leakCheckCanRun() {
    struct rlimit processes;
    if (geteuid() != 0 && getrlimit(RLIMIT_NPROC, &processes) == 0 && processes.rlim_cur == 0) return false;
    char path[64] = "/proc/";
    char digits[24];
    int count = 0;
    for (long pid = getpid(); pid > 0 && count < 20; pid /= 10) digits[count++] = static_cast<char>('0' + pid % 10);
    int at = 6;
    while (count > 0) path[at++] = digits[--count];
    const char task[] = "/task";
    for (char c : task) path[at++] = c;
    return access(path, R_OK | X_OK) == 0;
}

}  // namespace

extern "C" {

const char* __asan_default_options() {
    return leakCheckCanRun() ? VERSTALLY_ASAN_OPTIONS ":detect_leaks=1" : VERSTALLY_ASAN_OPTIONS ":detect_leaks=0";
}

const char* __ubsan_default_options() { return VERSTALLY_SANITIZER_COMMON ":halt_on_error=1:print_stacktrace=1"; }

const char* __lsan_default_options() { return VERSTALLY_SANITIZER_COMMON; }

}
