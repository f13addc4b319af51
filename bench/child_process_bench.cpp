// Cost of one child run with collected output: what every dpkg-query batch
// pays once, however many packages it asks about.
#include <benchmark/benchmark.h>
#include <string>
#include <vector>

#include "util/child_process.h"

namespace {

void BM_RunTrue(benchmark::State& state) {
    std::string t = "true";
    std::vector<char*> argv = {t.data(), nullptr};
    for (auto _ : state) {
        std::string out, err;
        benchmark::DoNotOptimize(forkExecvGetOutErr(out, err, "/bin/true", argv));
    }
}
BENCHMARK(BM_RunTrue)->Unit(benchmark::kMillisecond);

void BM_CollectOutput(benchmark::State& state) {
    std::string sh = "sh", c = "-c";
    std::string script = "head -c " + std::to_string(state.range(0)) + " /dev/zero";
    std::vector<char*> argv = {sh.data(), c.data(), script.data(), nullptr};
    for (auto _ : state) {
        std::string out, err;
        forkExecvGetOutErr(out, err, "/bin/sh", argv);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CollectOutput)->Arg(64 << 10)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
