#ifndef VERSTALLY_ENV_SAFE_POINT_H
#define VERSTALLY_ENV_SAFE_POINT_H

#include <cerrno>

// A safe point is a moment at which the process may stop cleanly: before
// a message is written, when a blocking wait is interrupted, before a
// child is started and before the update is sent. A request that arrives
// asynchronously (the run time-out, a signal that ends the run) is acted
// on at the next one.

/// Runs the routine set with set_safe_point_routine, unless none is set or
/// it is already running. The routine may end the process.
void safe_point();

/// The one routine safe_point runs (null: none).
void set_safe_point_routine(void (*routine)());

/// Every blocking wait of the process goes through here: runs `wait` (a
/// call that fails with -1 and errno EINTR when a signal interrupts it)
/// until it gives anything else, with a safe point after each
/// interruption, so that a run that is to end ends there instead of
/// waiting on. Returns what `wait` returned last.
template <typename Wait>
auto wait_through_interrupts(Wait wait) -> decltype(wait()) {
    for (;;) {
        const auto result = wait();
        if (result != -1 || errno != EINTR) return result;
        safe_point();
    }
}

/// Milliseconds on the monotonic clock: the one clock of the process's
/// deadlines.
long long monotonic_ms();

#endif
