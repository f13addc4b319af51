#ifndef VERSTALLY_ENV_SAFE_POINT_H
#define VERSTALLY_ENV_SAFE_POINT_H

// A safe point is a moment at which the process may stop cleanly: before
// a message is written, when a wait for a child is interrupted, before a
// child is started and before the update is sent. A request that arrives
// asynchronously (the run time-out) is acted on at the next one.

/// Runs the routine set with set_safe_point_routine, unless none is set or
/// it is already running. The routine may end the process.
void safe_point();

/// The one routine safe_point runs (null: none).
void set_safe_point_routine(void (*routine)());

#endif
