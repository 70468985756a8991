// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-display's window repaints only where a cycle changed something:
// after a run of cycles, and after a new size, what it has painted must be
// what a paint of the whole window shows for the last one.
#include "displaywindow.h"

#include <QCoreApplication>
#include <QImage>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

#include <random>

namespace lumora::display {
namespace {

// What the window has put on its screen (offscreen platform: its backing
// store), against a fresh paint of all of it.
void expectScreenShowsAFullPaint(DisplayWindow& window)
{
    QCoreApplication::processEvents();
    const QImage shown = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage full = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), full.size());
    int differing = 0;
    for (int y = 0; y < full.height(); ++y)
        for (int x = 0; x < full.width(); ++x)
            differing += shown.pixel(x, y) != full.pixel(x, y);
    EXPECT_EQ(differing, 0);
}

TEST(DisplayWindow, PartialRepaintsLeaveWhatAFullPaintShows)
{
    DisplayWindow window;
    window.resize(window.sizeHint());
    window.show();
    while (!window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);

    std::mt19937 random(3);
    wire::Cycle cycle = wire::blankCycle();
    // Cycles that change everything, a few groups far apart, one text
    // character, then nothing: each repaint must cover what it changed.
    for (int step = 0; step < 12; ++step) {
        if (step < 4) {
            for (auto& lamp : cycle.lamps)
                lamp = wire::levelLampByte(static_cast<int>(random() % 9), step % 2 == 0);
            for (auto& c : cycle.text)
                c = static_cast<char>('A' + random() % 26);
        } else if (step < 10) {
            cycle.lamps[random() % cycle.lamps.size()] = wire::levelLampByte(static_cast<int>(random() % 9), true);
            cycle.lamps[random() % cycle.lamps.size()] = wire::levelLampByte(static_cast<int>(random() % 9), false);
            cycle.text[random() % cycle.text.size()] = static_cast<char>('a' + random() % 26);
        }
        window.showCycle(cycle);
        SCOPED_TRACE(step);
        expectScreenShowsAFullPaint(window);
    }

    // A new size moves every group: the window paints where a window made
    // at that size does.
    window.resize(window.size() * 5 / 4);
    cycle.lamps[9] = wire::levelLampByte(cycle.lamps[9] == 0 ? 8 : 0, true);
    window.showCycle(cycle);
    QCoreApplication::processEvents();
    DisplayWindow fresh;
    fresh.resize(window.size());
    fresh.showCycle(cycle);
    EXPECT_EQ(window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32),
              fresh.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

}  // namespace
}  // namespace lumora::display
