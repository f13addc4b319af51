#include "db/option_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "env/constants.h"
#include "env/file_trust.h"
#include "env/regular_file.h"
#include "env/safe_point.h"
#include "env/user_lookup.h"
#include "util/absence.h"

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string trimmed(const std::string& text) {
    std::size_t from = 0;
    std::size_t to = text.size();
    while (from < to && is_blank(text[from])) ++from;
    while (to > from && is_blank(text[to - 1])) --to;
    return text.substr(from, to - from);
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Cuts an unquoted '#' and what follows it.
std::string without_end_comment(const std::string& text) {
    char quote = 0;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '\'' || c == '"') && !escaped) {
            if (quote == 0)
                quote = c;
            else if (quote == c)
                quote = 0;
        }
        if (quote == 0 && c == '#') return text.substr(0, i);
        escaped = quote != 0 && c == '\\' && !escaped;
    }
    return text;
}

// A value as the option-file syntax writes it: one pair of surrounding
// quotes dropped, \n \t \r \b \s \" \' \\ replaced by what they stand for.
std::string unquoted(std::string value) {
    if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        const char next = value[++i];
        const char* const escapes = "ntrbs\"'\\";
        const char* const meanings = "\n\t\r\b \"'\\";
        const char* found = std::strchr(escapes, next);
        if (found != nullptr && next != '\0') {
            result += meanings[found - escapes];
        } else {
            result += '\\';
            result += next;
        }
    }
    return result;
}

std::string place(const std::string& file, int line) { return file + " at line " + std::to_string(line); }

// A warning said once, however often a loop of includes meets its cause.
void warn(OptionReading& reading, const std::string& warning) {
    if (std::find(reading.warnings.begin(), reading.warnings.end(), warning) == reading.warnings.end())
        reading.warnings.push_back(warning);
}

bool fail(OptionReading& reading, const std::string& why) {
    reading.failure = why;
    return false;
}

bool group_taken(const OptionReading& reading, const std::string& group) {
    const std::string name = lowered(group);
    for (const std::string& wanted : reading.groups)
        if (lowered(wanted) == name) return true;
    return false;
}

void take_option(const std::string& text, const std::string& file, int line, OptionReading& reading) {
    OptionSetting setting;
    const std::size_t equals = text.find('=');
    setting.name = lowered(trimmed(text.substr(0, equals)));
    std::replace(setting.name.begin(), setting.name.end(), '_', '-');
    if (setting.name.rfind("loose-", 0) == 0) setting.name.erase(0, 6);
    setting.has_value = equals != std::string::npos;
    if (setting.has_value) setting.value = unquoted(trimmed(text.substr(equals + 1)));
    setting.file = file;
    setting.line = line;
    if (!reading.take) return;
    const std::string warning = reading.take(setting);
    if (!warning.empty()) warn(reading, warning);
}

bool read_file(const std::string& path, int depth, OptionReading& reading);

// The *.cnf files of `directory`, in name order; false when it cannot be read.
bool option_files_in(const std::string& directory, std::vector<std::string>& names) {
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return false;
    const std::size_t extension = std::strlen(OPTION_FILE_EXTENSION);
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > extension && name.compare(name.size() - extension, extension, OPTION_FILE_EXTENSION) == 0)
            names.push_back(name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    return true;
}

// "!include <file>" and "!includedir <directory>"; anything else after '!'
// is passed over, as MariaDB's clients do.
bool follow_directive(const std::string& directive, const std::string& file, int line, int depth,
                      OptionReading& reading) {
    if (depth >= MAX_OPTION_FILE_DEPTH) {
        warn(reading, "Skipping '!" + directive + "' in config file " + place(file, line) +
                                   ": includes nest too deep");
        return true;
    }
    for (const char* keyword : {"includedir", "include"}) {
        const std::size_t length = std::strlen(keyword);
        if (directive.compare(0, length, keyword) != 0 || directive.size() <= length || !is_blank(directive[length]))
            continue;
        const std::string target = trimmed(directive.substr(length));
        if (target.empty())
            return fail(reading, std::string("Wrong '!") + keyword + "' directive in config file " + place(file, line));
        if (length == std::strlen("include")) return read_file(target, depth + 1, reading);
        std::vector<std::string> names;
        if (!option_files_in(target, names))
            return fail(reading, "Can't read dir of '" + target + "' named in config file " + place(file, line) +
                                     ": " + std::strerror(errno));
        for (const auto& name : names)
            if (!read_file(target + "/" + name, depth + 1, reading)) return false;
        return true;
    }
    return true;
}

// Who may own a file or directory that steers the tool (trusted_owner),
// named as the warnings name them.
std::string trusted_owners() {
    return geteuid() == 0 ? std::string("root") : std::string("root or ") + user_name_of(geteuid());
}

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether the file opened under `path`, of which fstat said `st`, may be
// obeyed; a warning says why not. Only a trusted owner may be able to
// change it: the file and the directory it lies in (by the name given, and,
// where that name is a link, the one the file really lies in) belong to
// root or the running user, and neither group nor others may write them,
// a sticky directory excepted. False with reading.failure set when a look
// failed.
bool judge_file(const std::string& path, const struct stat& st, OptionReading& reading, bool& trusted) {
    trusted = false;
    const std::string name = "config file '" + path + "'";
    if ((st.st_mode & S_IWOTH) != 0) {
        warn(reading, "World-writable " + name + " is ignored");
        return true;
    }
    if (!trusted_owner(st.st_uid)) {
        warn(reading, "Config file '" + path + "' does not belong to " + trusted_owners() + " and is ignored");
        return true;
    }
    if ((st.st_mode & S_IWGRP) != 0) {
        warn(reading, "Group-writable " + name + " is ignored");
        return true;
    }
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return fail(reading, "Can't look at " + name + ": " + std::strerror(errno));
    const std::string directories[] = {parent_of(path), parent_of(real)};
    std::free(real);
    for (const std::string& directory : directories) {
        struct stat dir;
        if (stat(directory.c_str(), &dir) != 0)
            return fail(reading, "Can't look at the directory of " + name + ": " + std::strerror(errno));
        if (!safe_directory(dir)) {
            warn(reading, "Config file '" + path + "' is ignored: its directory '" + directory +
                              "' can be changed by others than " + trusted_owners());
            return true;
        }
    }
    trusted = true;
    return true;
}

bool read_file(const std::string& path, int depth, OptionReading& reading) {
    bool refused = false;
    const int fd = open_regular_file(path.c_str(), O_RDONLY, 0, &refused);
    if (fd < 0) {
        // Nothing there, or something no option file can be (a FIFO, a
        // directory): passed over. Any other failure leaves unknown what
        // the file would have set, TLS among it.
        if (refused || is_absence(errno)) return true;
        return fail(reading, "Can't read config file '" + path + "': " + std::strerror(errno));
    }
    struct stat st;
    FILE* file = fstat(fd, &st) == 0 ? fdopen(fd, "r") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        return fail(reading, "Can't read config file '" + path + "': " + std::strerror(error));
    }
    const std::pair<unsigned long, unsigned long> identity(st.st_dev, st.st_ino);
    bool trusted = false;
    bool read = false;
    if (!judge_file(path, st, reading, trusted) || !trusted) {
        // judged: ignored with its warning, or the reading failed
    } else if (std::find(reading.chain.begin(), reading.chain.end(), identity) != reading.chain.end()) {
        warn(reading, "Config file '" + path + "' includes itself and is not read again");
    } else if (++reading.files_read > MAX_OPTION_FILES) {
        reading.failure = "More than " + std::to_string(MAX_OPTION_FILES) + " config files to read, at '" + path + "'";
    } else {
        read = true;
    }
    bool ok = reading.failure.empty();
    if (read) {
        reading.chain.push_back(identity);
        ok = read_option_lines(file, path, depth, reading);
        reading.chain.pop_back();
    }
    std::fclose(file);
    return ok;
}

}  // namespace

bool read_option_lines(FILE* file, const std::string& name, int depth, OptionReading& reading) {
    bool in_group = false;
    bool any_group = false;
    int number = 0;
    char line[TEXT_BUFFER_SIZE];
    while (read_bounded_line(file, line, sizeof line)) {
        ++number;
        safe_point();
        std::string text = trimmed(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') continue;
        if (text[0] == '!') {
            if (!follow_directive(trimmed(text.substr(1)), name, number, depth, reading)) return false;
            continue;
        }
        if (text[0] == '[') {
            const std::size_t end = text.find(']');
            if (end == std::string::npos)
                return fail(reading, "Wrong group definition in config file: " + place(name, number));
            any_group = true;
            in_group = group_taken(reading, trimmed(text.substr(1, end - 1)));
            continue;
        }
        if (!any_group)
            return fail(reading, "Found option without preceding group in config file: " + place(name, number));
        if (in_group) take_option(trimmed(without_end_comment(text)), name, number, reading);
    }
    return true;
}

bool read_option_file(const std::string& path, OptionReading& reading) { return read_file(path, 0, reading); }
