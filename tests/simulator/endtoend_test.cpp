// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's real window (offscreen, test bridge) streaming through a
// pseudo-terminal into the display's firmware on the simulated board:
// every cycle Lumora sent shows on the lamps and the LCD, in order, and
// then the blanking.
#include "frmmain.h"
#include "pty.h"
#include "simulatedboard.h"
#include "streamingrun.h"
#include "testbridge.h"
#include "wireformat.h"

#include <QCheckBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <random>

namespace {

using lumora::sim::testing::hexOfLamps;
using lumora::sim::testing::parseUpdate;

std::string randomSpectrum(std::mt19937& random)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    const int loudness = static_cast<int>(random() % 16);
    for (int i = 0; i < 2 * 100; ++i)
        text += digits[i % 2 == 0 ? random() % (loudness + 1) : random() % 16];
    return text;
}

TEST(SimulatedDisplayEndToEnd, EveryCycleLumoraSentShowsInOrderThenTheBlanking)
{
    QProcess board;
    board.start(LUMORA_SIM_PROGRAM, {"--headless", "--print-updates", "--quit-after-blankings", "1"});
    ASSERT_TRUE(board.waitForStarted(5000));
    ASSERT_TRUE(board.waitForReadyRead(10000));
    const QString first = QString::fromUtf8(board.readLine()).trimmed();
    const QString prefix = "lumora-sim: listening on ";
    ASSERT_TRUE(first.startsWith(prefix)) << first.toStdString();
    lumora::test::PortVariable port(first.mid(prefix.size()).toStdString());

    lumora::test::TestBridge lib;
    lib.reset();
    lib.setCount(100);
    std::mt19937 random(3);
    lib.setSpectrumText(0, randomSpectrum(random));
    lib.setSpectrumText(1, randomSpectrum(random));

    lumora::FrmMain frm;
    ASSERT_TRUE(frm.Form_Load());
    frm.show();

    // In the run's event-pump passes: note the cycle going out, change the
    // bridge's answers and the mode so that no two cycles look alike.
    constexpr int kCycles = 25;
    std::vector<lumora::wire::Cycle> sent;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto cycle = static_cast<std::size_t>(lib.callCount() / 6);
        if (cycle > sent.size()) {
            sent.push_back(lumora::currentCycle(frm.FrameMatrix, frm.MarqueeText));
            lib.setSpectrumText(0, randomSpectrum(random));
            lib.setSpectrumText(1, randomSpectrum(random));
            frm.Check1->setChecked(random() % 2 == 0);
            if (sent.size() == kCycles)
                frm.Command2->click();
        }
    });
    watch.start(0);
    frm.Command1->click();
    watch.stop();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kCycles));

    if (board.state() != QProcess::NotRunning && !board.waitForFinished(20000)) {
        board.terminate();
        board.waitForFinished(5000);
        FAIL() << "the simulated display did not show the blanking; it reported:\n"
               << board.readAllStandardOutput().toStdString();
    }
    EXPECT_EQ(board.exitCode(), 0);
    std::vector<std::pair<std::string, std::string>> shown;  // lamps, line 1
    for (const QByteArray& line : board.readAllStandardOutput().split('\n')) {
        if (auto update = parseUpdate(line.toStdString()))
            shown.emplace_back(update->lamps, update->line1);
    }
    // The power-up screen, every cycle in order, the blanking.
    ASSERT_EQ(shown.size(), sent.size() + 2);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(shown[i + 1].first, hexOfLamps(sent[i])) << "cycle " << i;
        EXPECT_EQ(shown[i + 1].second, std::string(sent[i].textView())) << "cycle " << i;
    }
    EXPECT_EQ(shown.back().first, std::string(128, '0'));
    EXPECT_EQ(shown.back().second, std::string(20, ' '));
}

}  // namespace
