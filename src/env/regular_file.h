#ifndef VERSTALLY_ENV_REGULAR_FILE_H
#define VERSTALLY_ENV_REGULAR_FILE_H

#include <cstddef>
#include <cstdio>

/// Opens `path` with `flags` (and `mode` when they hold O_CREAT) for a file
/// that steers the program, so that no file type can stall or mislead it:
///   1. the open itself never blocks (a FIFO without a writer, a device)
///      and never makes a terminal the controlling one;
///   2. the descriptor is kept only when fstat on it says regular file, so
///      reading it ends at the end of the file;
///   3. the descriptor is close-on-exec, and blocking mode is restored.
/// Add O_NOFOLLOW to `flags` where a last-component symbolic link must not
/// be followed. Result: the descriptor, or -1 with errno set: the open's
/// own error, or EISDIR for a directory and EINVAL for any other file that
/// is not regular. `refused`, when given, is set to whether the path named
/// something other than a regular file (rather than failing to open).
int open_regular_file(const char* path, int flags, unsigned mode = 0, bool* refused = nullptr);

/// open_regular_file for reading, as a stream (close it with fclose). Null
/// with errno set when the file cannot be opened or is not regular.
FILE* open_regular_stream(const char* path);

/// Reads one line of `file`, its "\n" included, into `line` of `size`
/// bytes (not 0); the part of a longer line that does not fit is dropped,
/// so that it cannot pass for a line of its own, and memory stays bounded
/// whatever the file holds. Counts bytes rather than looking for the
/// terminator, so that NUL bytes in a line change nothing of this. False
/// at the end of the file.
bool read_bounded_line(FILE* file, char* line, std::size_t size);

#endif
