#include "env/safe_point.h"

#include <ctime>

namespace {

void (*safe_point_routine)() = nullptr;
bool running = false;

}  // namespace

void safe_point() {
    // What the routine itself reports must not call it again.
    if (safe_point_routine == nullptr || running) return;
    running = true;
    safe_point_routine();
    running = false;
}

void set_safe_point_routine(void (*routine)()) { safe_point_routine = routine; }

long long monotonic_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
