#ifndef VERSTALLY_UTIL_ABSENCE_H
#define VERSTALLY_UTIL_ABSENCE_H

#include <cerrno>

// Could not ask is not nothing there: of the reasons a look at a path
// (open, stat, exec) can fail, only these say that nothing is at it. Any
// other (EACCES, ELOOP, EIO, ENAMETOOLONG, EMFILE, ...) means the answer is
// unknown, and whoever looked must fail rather than take it as absence.

/// Whether a look that failed with `error` found that nothing is there.
inline bool is_absence(int error) { return error == ENOENT || error == ENOTDIR; }

#endif
