#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "components/tool_probe.h"
#include "components/frontpage_package.h"
#include "env/constants.h"
#include "env/messages.h"

namespace vonta {

FrontpagePackage::~FrontpagePackage() = default;

void FrontpagePackage::fetchVersion() {
    CheckedTool checked;
    if (!toolPresent(FRONTPAGE_TOOL_PATH, "frontpage owsadm.exe", checked)) return;
    // The tool writes into one pipe, grep reads it and writes into another.
    int fromTool;
    int fromGrep;
    const pid_t toolChild =
        startTool(checked.executable.c_str(), checked.name.c_str(), FRONTPAGE_TOOL_ARG, -1, fromTool);
    const pid_t grepChild = startTool(GREP_PATH, "grep", FRONTPAGE_GREP_PATTERN, fromTool, fromGrep);
    close(fromTool);
    char output[TEXT_BUFFER_SIZE];
    const std::size_t got = readToolOutput(fromGrep, output, sizeof output);
    // Both are waited for before either is judged, grep first: a tool that
    // failed leaves grep an answer (no line matched), while a tool that grep
    // stopped reading, having failed or answered, ends by SIGPIPE.
    const int toolStatus = waitForTool(toolChild);
    const int grepStatus = waitForTool(grepChild);
    requireAnswer(grepStatus, GREP_PATH, NoAnswer::Trouble);
    if (!WIFSIGNALED(toolStatus) || WTERMSIG(toolStatus) != SIGPIPE)
        requireAnswer(toolStatus, checked.executable.c_str(), NoAnswer::CouldNotRun);

    const std::string text(output, got);
    const std::size_t mark = text.find(FRONTPAGE_VERSION_MARK);
    if (mark != std::string::npos) {
        const std::size_t from = mark + std::strlen(FRONTPAGE_VERSION_MARK);
        version = text.substr(from, text.find('\n', from) - from);
    }
    installed = true;
}

}  // namespace vonta
