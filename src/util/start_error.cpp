#include "util/start_error.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "env/constants.h"
#include "util/absence.h"

namespace {

// The loader (ELF interpreter) that the program in `fd` names; "" when it
// names none or is no ELF file of this machine's byte order.
template <typename Header, typename Segment>
std::string elfLoader(int fd) {
    Header header;
    if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return "";
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Segment segment;
        const off_t at = static_cast<off_t>(header.e_phoff + static_cast<std::uint64_t>(i) * header.e_phentsize);
        if (pread(fd, &segment, sizeof segment, at) != static_cast<ssize_t>(sizeof segment)) return "";
        if (segment.p_type != PT_INTERP) continue;
        char path[PATH_MAX] = {};
        const std::size_t size = segment.p_filesz < sizeof path - 1 ? segment.p_filesz : sizeof path - 1;
        if (pread(fd, path, size, static_cast<off_t>(segment.p_offset)) < 0) return "";
        return path;
    }
    return "";
}

// Why a program that is there failed with ENOENT: the interpreter its "#!"
// line names, or the loader it names, is missing.
std::string missingRunner(const char* path) {
    const std::string interpreter = scriptInterpreter(path);
    if (!interpreter.empty()) return "interpreter " + interpreter;
    const int program = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (program < 0) return "";
    unsigned char ident[EI_NIDENT] = {};
    std::string loader;
    if (pread(program, ident, sizeof ident, 0) == EI_NIDENT && std::memcmp(ident, ELFMAG, SELFMAG) == 0)
        loader = ident[EI_CLASS] == ELFCLASS64 ? elfLoader<Elf64_Ehdr, Elf64_Phdr>(program)
                                               : elfLoader<Elf32_Ehdr, Elf32_Phdr>(program);
    close(program);
    return loader.empty() ? "" : "loader " + loader;
}

}  // namespace

std::string startErrorText(const StartError& failure) {
    const std::string reason = std::strerror(failure.error);
    return failure.cause.empty() ? reason : failure.cause + ": " + reason;
}

std::string scriptInterpreter(const char* path) {
    const int script = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (script < 0) return "";
    char header[SCRIPT_HEADER_SIZE + 1] = {};
    const ssize_t got = pread(script, header, SCRIPT_HEADER_SIZE, 0);
    close(script);
    if (got < 2 || header[0] != '#' || header[1] != '!') return "";
    // As the kernel reads it: blanks, then the name up to a blank or the end
    // of the line.
    const char* from = header + 2;
    while (*from == ' ' || *from == '\t') ++from;
    const std::size_t length = std::strcspn(from, " \t\n");
    return std::string(from, length);
}

void explainExecFailure(const char* path, StartError& failure) {
    if (failure.step != StartStep::Exec || failure.error != ENOENT) return;
    struct stat st;
    if (stat(path, &st) != 0) {
        failure.absent = is_absence(errno);
        return;
    }
    failure.cause = missingRunner(path);
}

