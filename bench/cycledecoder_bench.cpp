// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the cycles are read: bytes per second through lumora-display's
// decoder (CycleDecoder::feed, arrival times and events included) for
// reads of various sizes, and through the shared cycle reader alone, in
// step, after faults and on bytes that never form a cycle (the reader
// searches all the time), and on Lumora's own cycles, whose frame keeps its
// history from one cycle to the next, which the reader then also checks.
// The line carries at most 5760 bytes per second;
// a pseudo-terminal can carry far more.
//   build/bin/bench_cycledecoder
#include "cycledecoder.h"
#include "cyclereader.h"
#include "runcycles.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using namespace lumora;
using namespace lumora::display;

// 100 well-formed cycles: levels in both modes, printable text.
std::vector<std::uint8_t> wellFormedStream()
{
    std::vector<std::uint8_t> stream;
    for (int cycle = 0; cycle < 100; ++cycle) {
        for (int i = 0; i < wire::kLampBytes; ++i)
            stream.push_back(wire::levelLampByte((cycle + i) % (wire::kMaxLevel + 1), (cycle + i) % 3 != 0));
        for (int i = 0; i < wire::kTextLength; ++i)
            stream.push_back(static_cast<std::uint8_t>('A' + (cycle + i) % 26));
    }
    return stream;
}

void decodeInReadsOf(benchmark::State& state)
{
    const auto readSize = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> stream = wellFormedStream();
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

void readBytes(benchmark::State& state, const std::vector<std::uint8_t>& stream)
{
    wire::CycleReader reader;
    for (auto _ : state) {
        for (std::uint8_t byte : stream)
            benchmark::DoNotOptimize(reader.feed(byte));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["realignments"] = reader.counts().realignments;
}

void readerInStep(benchmark::State& state)
{
    readBytes(state, wellFormedStream());
}
BENCHMARK(readerInStep);

// One byte lost every tenth cycle: a search, a realignment, a lost cycle.
void readerWithALostByteEveryTenCycles(benchmark::State& state)
{
    std::vector<std::uint8_t> stream = wellFormedStream();
    for (std::size_t cycle = 90; cycle > 0; cycle -= 10)
        stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(cycle * wire::kCycleBytes + 30));
    readBytes(state, stream);
}
BENCHMARK(readerWithALostByteEveryTenCycles);

// 100 cycles as Lumora sends them: the real frame update and the marquee.
std::vector<std::uint8_t> lumoraStream()
{
    testing::RunCycles run(1, testing::RunCycles::kMarquee);
    std::vector<std::uint8_t> stream;
    for (int cycle = 0; cycle < 100; ++cycle) {
        const auto bytes = wire::encode(run.next());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

void readerOnLumorasCycles(benchmark::State& state)
{
    std::vector<std::uint8_t> stream = lumoraStream();
    if (state.range(0) != 0) {
        for (std::size_t cycle = 90; cycle > 0; cycle -= 10)
            stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(cycle * wire::kCycleBytes + 30));
    }
    readBytes(state, stream);
}
// 0: in step; 1: a byte lost every tenth cycle.
BENCHMARK(readerOnLumorasCycles)->Arg(0)->Arg(1);

void readerOnRandomBytes(benchmark::State& state)
{
    std::mt19937 random(1);
    std::vector<std::uint8_t> stream(100 * wire::kCycleBytes);
    for (std::uint8_t& byte : stream)
        byte = static_cast<std::uint8_t>(random());
    readBytes(state, stream);
}
BENCHMARK(readerOnRandomBytes);

}  // namespace

BENCHMARK_MAIN();
