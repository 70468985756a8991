// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's real window (offscreen, test bridge) streaming through a
// pseudo-terminal into the display's firmware on the simulated board:
// every cycle Lumora sent shows on the lamps and the LCD, in order, and
// then the blanking.
#include "frmmain.h"
#include "pty.h"
#include "serialline.h"
#include "simulatedboard.h"
#include "streamedrun.h"
#include "wireformat.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <random>

namespace {

using lumora::sim::testing::hexOfLamps;
using lumora::sim::testing::parseUpdate;

TEST(SimulatedDisplayEndToEnd, EveryCycleLumoraSentShowsInOrderThenTheBlanking)
{
    QProcess board;
    const QString slave =
        lumora::test::startListener(board, LUMORA_SIM_PROGRAM,
                                    {"--headless", "--print-updates", "--quit-after-blankings", "1", "--snapshot",
                                     QString::number(lumora::sim::testing::kListeningMs)});
    ASSERT_FALSE(slave.isEmpty());
    // A display that was on before Lumora started.
    // What came with the listening line may already wait in the buffer.
    QByteArray reported = board.readAllStandardOutput();
    const auto snapshotSeen = [&] { return reported.startsWith("S ") || reported.contains("\nS "); };
    while (!snapshotSeen() && board.waitForReadyRead(10000))
        reported += board.readAllStandardOutput();
    ASSERT_TRUE(snapshotSeen()) << reported.toStdString();

    lumora::test::TestBridge lib;
    lib.reset();
    std::mt19937 random(3);
    lumora::FrmMain frm;
    frm.MSComm1->setPortOneDevice(slave);
    ASSERT_TRUE(frm.Form_Load());
    frm.show();

    constexpr int kCycles = 25;
    const std::vector<lumora::wire::Cycle> sent = lumora::test::streamCycles(frm, lib, random, kCycles);
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kCycles));

    if (board.state() != QProcess::NotRunning && !board.waitForFinished(20000)) {
        board.terminate();
        board.waitForFinished(5000);
        FAIL() << "the simulated display did not show the blanking; it reported:\n"
               << board.readAllStandardOutput().toStdString();
    }
    EXPECT_EQ(board.exitCode(), 0);
    std::vector<std::pair<std::string, std::string>> shown;  // lamps, line 1
    reported += board.readAllStandardOutput();
    for (const QByteArray& line : reported.split('\n')) {
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
