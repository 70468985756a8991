// SPDX-License-Identifier: GPL-3.0-or-later
// One cycle's work without I/O (meters, frame, tick), the same with the
// paint and flush of the bars, the spectrum text decoder alone, and the
// cost of the event pump's passes and pauses in the real window. Uses the
// test bridge library with 576 values per channel.
//
//   build-release/bin/cycle_bench
#include "frmmain.h"
#include "modvbvis10.h"
#include "testbridge.h"
#include "wireformat.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <random>

namespace {

std::string randomHex(std::size_t values, unsigned seed)
{
    static const char digits[] = "0123456789ABCDEF";
    std::mt19937 random(seed);
    std::string text;
    for (std::size_t i = 0; i < 2 * values; ++i)
        text += digits[random() % 16];
    return text;
}

lumora::FrmMain& window()
{
    static lumora::FrmMain* frm = [] {
        lumora::testing::TestBridge lib;
        lib.setCount(576);
        lib.setSpectrumText(0, randomHex(576, 1));
        lib.setSpectrumText(1, randomHex(576, 2));
        lib.setVu(0, 9000);
        lib.setVu(1, 12000);
        auto* w = new lumora::FrmMain;
        w->Form_Load();
        w->show();
        return w;
    }();
    return *frm;
}

void BM_CycleWithoutIo(benchmark::State& state)
{
    lumora::FrmMain& frm = window();
    frm.MarqueeText = "Megacool - zelf gemaakt se - schoon hee ;-) ... ";
    for (auto _ : state) {
        frm.ScrollFlag = -1;
        frm.consumeScrollTick();
        frm.SetVu(0);
        frm.SetVu(1);
        frm.SetSpectrum(0);
        frm.SetSpectrum(1);
        frm.UpdateFrameMatrix();
        benchmark::DoNotOptimize(frm.FrameMatrix(8, 8));
    }
    lumora::testing::TestBridge().clearCalls();  // the bridge records every call
}
BENCHMARK(BM_CycleWithoutIo);

// A cycle's meters and frame with what the window shows of them: the bars
// that moved are painted and flushed to the screen in one pass of the
// event loop. No scroll tick: it comes twice a second, not every cycle.
// With QT_QPA_PLATFORM=xcb on an X server that is what users see (the X
// server's own work not counted). The spectra change every cycle, as
// music's do.
void BM_CycleWithPaint(benchmark::State& state)
{
    lumora::FrmMain& frm = window();
    lumora::testing::TestBridge lib;
    std::vector<std::string> spectra;
    for (unsigned i = 0; i < 16; ++i)
        spectra.push_back(randomHex(576, 10 + i));
    std::size_t n = 0;
    for (auto _ : state) {
        lib.setSpectrumText(0, spectra[n % spectra.size()]);
        lib.setSpectrumText(1, spectra[(n + 5) % spectra.size()]);
        lib.setVu(0, static_cast<std::int16_t>(n * 977 % 32768));
        lib.setVu(1, static_cast<std::int16_t>(n * 1499 % 32768));
        frm.SetVu(0);
        frm.SetVu(1);
        frm.SetSpectrum(0);
        frm.SetSpectrum(1);
        frm.UpdateFrameMatrix();
        QCoreApplication::processEvents();
        ++n;
    }
    lib.clearCalls();
}
BENCHMARK(BM_CycleWithPaint)->Unit(benchmark::kMicrosecond);

void BM_DecodeSpectrumText(benchmark::State& state)
{
    const auto n = static_cast<std::int16_t>(state.range(0));
    const std::string text = randomHex(static_cast<std::size_t>(n), 3) + ' ';
    for (auto _ : state)
        benchmark::DoNotOptimize(lumora::modVbVis10::decodeSpectrumText(text, n));
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_DecodeSpectrumText)->Arg(576)->Arg(16383);

// A full pass through the event loop in the shown window, with its 500 ms
// timer running and nothing else pending: what every yield cost before
// yields skipped passes that have nothing to service.
void BM_FullPass(benchmark::State& state)
{
    lumora::FrmMain& frm = window();
    for (auto _ : state)
        frm.pump().fullPass();
}
BENCHMARK(BM_FullPass);

// One yield of a pause, as a run makes 12000 a cycle: most are skipped.
void BM_Yield(benchmark::State& state)
{
    lumora::FrmMain& frm = window();
    for (auto _ : state)
        frm.pump().yield();
}
BENCHMARK(BM_Yield);

// One cycle's pauses: 8 x 250 and 20 x 500 yields. In this tight loop a
// full pass comes only when 200 us have gone by, as in a run, where the
// cycle's first pause usually makes the cycle's only one.
void BM_CyclePauses(benchmark::State& state)
{
    lumora::FrmMain& frm = window();
    for (auto _ : state) {
        for (int group = 0; group < lumora::wire::kRows; ++group)
            frm.pump().pause(lumora::wire::kYieldsAfterLampGroup);
        for (int c = 0; c < lumora::wire::kTextLength; ++c)
            frm.pump().pause(lumora::wire::kYieldsAfterTextChar);
    }
}
BENCHMARK(BM_CyclePauses)->Unit(benchmark::kMicrosecond);

}  // namespace
