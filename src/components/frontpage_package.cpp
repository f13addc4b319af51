#include <cstdio>
#include <cstring>
#include <libgen.h>
#include <string>
#include <unistd.h>

#include "components/tool_probe.h"
#include "components/frontpage_package.h"
#include "env/constants.h"
#include "env/messages.h"

namespace vonta {

FrontpagePackage::~FrontpagePackage() = default;

void FrontpagePackage::fetchVersion() {
    const char* tool = FRONTPAGE_TOOL_PATH;
    CheckedTool checked;
    if (!toolPresent(tool, "frontpage owsadm.exe", checked)) return;

    // The tool writes into pipe A, grep reads A and writes into pipe B.
    char baseCopy[TEXT_BUFFER_SIZE];
    std::snprintf(baseCopy, sizeof baseCopy, "%s", tool);
    int a[2];
    openToolPipe(a);
    const pid_t toolChild = startTool(checked.executable.c_str(), basename(baseCopy), FRONTPAGE_TOOL_ARG, -1, a[1]);
    close(a[1]);
    if (toolChild < 0) {
        close(a[0]);
        return;
    }
    int b[2];
    openToolPipe(b);
    const pid_t grepChild = startTool(GREP_PATH, "grep", FRONTPAGE_GREP_PATTERN, a[0], b[1]);
    close(a[0]);
    close(b[1]);

    char output[TEXT_BUFFER_SIZE];
    const std::size_t got = readToolOutput(b[0], output, sizeof output);
    waitForTool(toolChild);
    // Without grep nothing was read: that says nothing about the tool.
    if (grepChild < 0) return;
    waitForTool(grepChild);

    const std::string text(output, got);
    const std::size_t mark = text.find(FRONTPAGE_VERSION_MARK);
    if (mark != std::string::npos) {
        const std::size_t from = mark + std::strlen(FRONTPAGE_VERSION_MARK);
        version = text.substr(from, text.find('\n', from) - from);
    }
    installed = true;
}

}  // namespace vonta
