#include <cerrno>
#include <cstdio>
#include <cstring>
#include <libgen.h>
#include <string>
#include <unistd.h>

#include "components/tool_probe.h"
#include "components/vendor_packages.h"
#include "env/constants.h"
#include "env/messages.h"

namespace vonta {

FrontpagePackage::~FrontpagePackage() = default;

void FrontpagePackage::fetchVersion() {
    const char* tool = FRONTPAGE_TOOL_PATH;
    std::string executable;
    if (!toolPresent(tool, "Bad file permissions on frontpage owsadm.exe %s\n", executable)) return;

    // The tool writes into pipe A, grep reads A and writes into pipe B.
    int a[2];
    int aStatus[2];
    openToolPipe(a);
    openToolPipe(aStatus);
    const pid_t toolChild = forkTool();
    if (toolChild == 0) {
        close(aStatus[0]);
        close(0);
        close(1);
        close(2);
        close(a[0]);
        dup2(a[1], 1);
        dup2(a[1], 2);
        closeAllButStatusPipe(aStatus[1]);
        char baseCopy[TEXT_BUFFER_SIZE];
        std::snprintf(baseCopy, sizeof baseCopy, "%s", tool);
        execToolOrReport(executable.c_str(), basename(baseCopy), FRONTPAGE_TOOL_ARG, aStatus[1]);
    }
    close(a[1]);
    close(aStatus[1]);

    int b[2];
    int bStatus[2];
    openToolPipe(b);
    openToolPipe(bStatus);
    const pid_t grepChild = forkTool();
    if (grepChild == 0) {
        close(bStatus[0]);
        close(aStatus[0]);
        close(0);
        close(1);
        close(2);
        close(b[0]);
        dup2(a[0], 0);
        dup2(b[1], 1);
        dup2(b[1], 2);
        closeAllButStatusPipe(bStatus[1]);
        execToolOrReport(GREP_PATH, "grep", FRONTPAGE_GREP_PATTERN, bStatus[1]);
    }
    close(a[0]);
    close(b[1]);
    close(bStatus[1]);

    char output[TEXT_BUFFER_SIZE];
    const std::size_t got = readToolOutput(b[0], output, sizeof output);
    const bool started = toolStarted(aStatus[0]) & toolStarted(bStatus[0]);
    waitForTool(toolChild);
    waitForTool(grepChild);
    if (!started) return;

    const std::string text(output, got);
    const std::size_t mark = text.find(FRONTPAGE_VERSION_MARK);
    if (mark != std::string::npos) {
        const std::size_t from = mark + std::strlen(FRONTPAGE_VERSION_MARK);
        version = text.substr(from, text.find('\n', from) - from);
    }
    installed = true;
}

}  // namespace vonta
