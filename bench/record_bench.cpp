// Throughput of the record widening on typical and on the longest records.
#include "record/record.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// An S1 record text of `bytes` data bytes (checksum digits included; their
// value plays no part).
std::string s1Record(int bytes) {
    std::string text = "S1" + std::string(2, '0') + "1234";
    for (int i = 0; i < bytes; ++i) {
        text += "A5";
    }
    return text + "00";
}

void convertRecord(benchmark::State& state) {
    const std::string text = s1Record(static_cast<int>(state.range(0)));
    std::vector<char> out(quorvex::convertRoom(text.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvex::convert(text, out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(convertRecord)->Arg(16)->Arg(32)->Arg(250);

void calcSumRecord(benchmark::State& state) {
    const std::string text = s1Record(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvex::calcSum(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(calcSumRecord)->Arg(16)->Arg(32)->Arg(250);

} // namespace

BENCHMARK_MAIN();
