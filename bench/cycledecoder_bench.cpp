// SPDX-License-Identifier: GPL-3.0-or-later
// How fast lumora-display's decoder counts cycles: bytes per second through
// CycleDecoder::feed for reads of various sizes. The line carries at most
// 5760 bytes per second; a pseudo-terminal can carry far more.
#include "cycledecoder.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace lumora;
using namespace lumora::display;

void decodeInReadsOf(benchmark::State& state)
{
    const auto readSize = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> stream;
    for (int cycle = 0; cycle < 100; ++cycle) {
        for (int i = 0; i < wire::kCycleBytes; ++i)
            stream.push_back(static_cast<std::uint8_t>(cycle * 7 + i));
    }
    CycleDecoder decoder;
    std::vector<DecodedEvent> events;
    Nanoseconds now{};
    for (auto _ : state) {
        for (std::size_t at = 0; at < stream.size(); at += readSize) {
            now += std::chrono::microseconds(200);
            events.clear();
            decoder.feed({stream.data() + at, std::min(readSize, stream.size() - at)}, now, events);
            benchmark::DoNotOptimize(events.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(decodeInReadsOf)->Arg(1)->Arg(8)->Arg(84)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
