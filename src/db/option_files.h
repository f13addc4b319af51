#ifndef VERSTALLY_DB_OPTION_FILES_H
#define VERSTALLY_DB_OPTION_FILES_H

// MariaDB option files, read as MariaDB's clients read them and trusted as
// a program that runs as root must:
//  1. groups "[name]", options "name" or "name = value", comments after
//     '#' or ';', "!include <file>" and "!includedir <directory>" (its
//     *.cnf files in name order); every option reaches the caller in file
//     order, so that a later setting can outrank an earlier one;
//  2. a file MariaDB's clients refuse (a group without ']', an option
//     before any group, a directive without argument, an "!includedir" of
//     a directory that cannot be read) fails the reading, naming the file
//     and the line; a missing file or one that is no regular file is
//     passed over, but one that is there and cannot be opened or looked
//     at (EACCES, EMFILE, EIO, ELOOP...) fails it, naming the file and
//     the reason: what it would have set is unknown;
//  3. each file, includes too, is judged on the open descriptor and is
//     obeyed only when nobody but root (or the user the process runs as)
//     can change it: it belongs to one of them and neither its group nor
//     others may write it or the directory it lies in (a sticky directory
//     excepted; a link is judged where the file really lies, too); any
//     other file is skipped with a warning naming it. MariaDB's clients
//     skip only the world-writable ones;
//  4. the reading is bounded: a file already open in the current chain of
//     includes is not read again (with a warning), includes nest at most
//     MAX_OPTION_FILE_DEPTH deep, at most MAX_OPTION_FILES files are read
//     in all, and a pending end of the run is acted on between lines.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

/// One option of a group read here.
struct OptionSetting {
    std::string name;  // lower case, '_' as '-', a leading "loose-" dropped
    bool has_value = false;
    std::string value;  // one pair of surrounding quotes dropped, escapes replaced
    std::string file;
    int line = 0;
};

/// One reading of option files: what it wants said, and why it failed.
struct OptionReading {
    /// The groups whose options are taken (compared without regard to case).
    std::vector<std::string> groups;
    /// Receives every option of those groups, in file order; what it
    /// returns, when not empty, is a warning.
    std::function<std::string(const OptionSetting&)> take;
    /// Warnings to show, in the order found.
    std::vector<std::string> warnings;
    /// Empty, or why the reading failed (it stops there).
    std::string failure;

    /// Files opened so far and the chain of includes now open.
    int files_read = 0;
    std::vector<std::pair<unsigned long, unsigned long>> chain;
};

/// Reads the option file `path` (and what it includes) into `reading`.
/// False once the reading has failed.
bool read_option_file(const std::string& path, OptionReading& reading);

/// The lines of `file`, named `name` in messages, as if `name` had been
/// opened at include depth `depth`. False once the reading has failed.
bool read_option_lines(FILE* file, const std::string& name, int depth, OptionReading& reading);

#endif
