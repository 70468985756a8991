// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-display's window: what one screen frame costs it, from the new
// cycles to the painted backing store (the flush to the X server not
// included on the offscreen platform, the default; QT_QPA_PLATFORM=xcb
// flushes to an X server). As the line brings them: about 1.15 cycles a
// frame, every group a new level in bar mode.
//
//   build-release/bin/display_paint_bench
#include "displaywindow.h"

#include <QCoreApplication>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <random>

namespace {

using lumora::wire::Cycle;

std::vector<Cycle> musicLikeCycles(std::size_t count)
{
    std::mt19937 random(7);
    std::vector<Cycle> cycles(count);
    const char text[] = "Megacool - zelf gemaakt se - schoon hee ;-) ... ";
    for (std::size_t n = 0; n < count; ++n) {
        for (auto& lamp : cycles[n].lamps)
            lamp = lumora::wire::levelLampByte(static_cast<int>(random() % 9), true);
        for (std::size_t i = 0; i < cycles[n].text.size(); ++i)
            cycles[n].text[i] = text[(n / 34 + i) % (sizeof text - 1)];
    }
    return cycles;
}

void BM_DisplayFrame(benchmark::State& state)
{
    lumora::display::DisplayWindow window;
    window.resize(window.sizeHint());
    window.show();
    while (!window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const std::vector<Cycle> cycles = musicLikeCycles(1000);
    std::size_t n = 0;
    std::size_t frame = 0;
    for (auto _ : state) {
        // 69 cycles a second on a 60 Hz screen: every seventh frame shows two.
        window.showCycle(cycles[n++ % cycles.size()]);
        if (++frame % 7 == 0)
            window.showCycle(cycles[n++ % cycles.size()]);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_DisplayFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
