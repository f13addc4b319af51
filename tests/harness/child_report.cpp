// A failing test shows what its children printed: with each failure, the
// outcomes of the children collected since the test began or since its
// last failure, each stream cut to its first kilobytes.
#include <cstdio>
#include <gtest/gtest.h>

#include "harness/capture.h"

namespace {

constexpr std::size_t SHOWN_BYTES = 4096;

void show(const char* name, const std::string& text) {
    if (text.empty()) return;
    std::printf("  %s:\n%s", name, text.substr(0, SHOWN_BYTES).c_str());
    if (text.size() > SHOWN_BYTES) std::printf("\n  ... %zu bytes more", text.size() - SHOWN_BYTES);
    if (text.back() != '\n' || text.size() > SHOWN_BYTES) std::printf("\n");
}

class ChildReport : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        std::size_t ignored;
        takeCollectedOutcomes(ignored);
    }
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        std::size_t leftOut = 0;
        const std::vector<Outcome> outcomes = takeCollectedOutcomes(leftOut);
        if (leftOut > 0) std::printf("[ children ] %zu earlier outcomes not shown\n", leftOut);
        for (const Outcome& o : outcomes) {
            std::printf("[ child    ] %s %d\n", o.exited ? "exited with status" : "killed by signal", o.status);
            show("standard output", o.out);
            show("standard error", o.err);
        }
        std::fflush(stdout);
    }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ChildReport);
    return true;
}();

}  // namespace
