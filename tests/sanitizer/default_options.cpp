// Sanitizer settings of every program of the sanitizer build (the tool, the
// test programs and their helpers). They are compiled in rather than passed
// through the environment, because the tests start the tool with an
// environment of their own.
//
// 1. A finding ends the process with status 86, which no program of the
//    project uses, so that a test asserting an exit status fails on it.
// 2. Every report is also written to <report dir>/report.<pid>; the last
//    test of the run fails when that directory is not empty, so that a
//    finding in a process whose status no test looks at still fails the run.
// 3. Leak detection is on at every exit.
// Options in ASAN_OPTIONS / UBSAN_OPTIONS / LSAN_OPTIONS still override these.

#define VERSTALLY_SANITIZER_COMMON "exitcode=86:log_path=" VERSTALLY_SANITIZER_REPORT_PREFIX

extern "C" {

const char* __asan_default_options() {
    return VERSTALLY_SANITIZER_COMMON ":detect_leaks=1:check_initialization_order=1:strict_init_order=1"
                                      ":detect_stack_use_after_return=1";
}

const char* __ubsan_default_options() { return VERSTALLY_SANITIZER_COMMON ":halt_on_error=1:print_stacktrace=1"; }

const char* __lsan_default_options() {
#ifdef VERSTALLY_SANITIZER_SUPPRESSIONS
    return VERSTALLY_SANITIZER_COMMON ":suppressions=" VERSTALLY_SANITIZER_SUPPRESSIONS;
#else
    return VERSTALLY_SANITIZER_COMMON;
#endif
}

}
