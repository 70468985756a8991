// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's real window (offscreen, test bridge) streaming through a
// pseudo-terminal into the display's firmware on the simulated board
// (lumora-sim, as a user runs it): every cycle Lumora sent shows on the
// lamps and the LCD, in order, and then the blanking. And on the path of a
// real serial port, into an Uno or Nano that the port's opening resets,
// with the bootloader it carries in front of the firmware.
#include "fakeuart.h"
#include "frmmain.h"
#include "hextext.h"
#include "serialline.h"
#include "streamedrun.h"
#include "wireformat.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>

namespace {

constexpr long kListeningMs = 600;  // the firmware takes the line as quiet by then

struct ShownUpdate {
    std::string lamps;  // 64 lamp bytes in hex
    std::string line1;
};

// One "U" line of lumora-sim --print-updates.
std::optional<ShownUpdate> parseUpdate(const std::string& line)
{
    long sequence = 0, ms = 0, latency = 0;
    char lamps[129] = {};
    int consumed = 0;
    if (std::sscanf(line.c_str(), "U %ld %ld %ld %128s |%n", &sequence, &ms, &latency, lamps, &consumed) != 4 ||
        consumed == 0 || line.size() < static_cast<std::size_t>(consumed) + 20)
        return std::nullopt;
    return ShownUpdate{lamps, line.substr(static_cast<std::size_t>(consumed), 20)};
}

TEST(SimulatedDisplayEndToEnd, EveryCycleLumoraSentShowsInOrderThenTheBlanking)
{
    QProcess board;
    const QString slave = lumora::testing::startListener(
        board, LUMORA_SIM_PROGRAM,
        {"--headless", "--print-updates", "--quit-after-blankings", "1", "--snapshot", QString::number(kListeningMs)});
    ASSERT_FALSE(slave.isEmpty());
    // A display that was on before Lumora started.
    // What came with the listening line may already wait in the buffer.
    QByteArray reported = board.readAllStandardOutput();
    const auto snapshotSeen = [&] { return reported.startsWith("S ") || reported.contains("\nS "); };
    while (!snapshotSeen() && board.waitForReadyRead(10000))
        reported += board.readAllStandardOutput();
    ASSERT_TRUE(snapshotSeen()) << reported.toStdString();

    lumora::testing::TestBridge lib;
    lib.reset();
    std::mt19937 random(3);
    lumora::FrmMain frm;
    frm.MSComm1->setPortOneDevice(slave);
    ASSERT_TRUE(frm.Form_Load());
    frm.show();

    constexpr int kCycles = 25;
    const std::vector<lumora::wire::Cycle> sent = lumora::testing::streamCycles(frm, lib, random, kCycles);
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kCycles));

    if (board.state() != QProcess::NotRunning && !board.waitForFinished(20000)) {
        board.terminate();
        board.waitForFinished(5000);
        FAIL() << "the simulated display did not show the blanking; it reported:\n"
               << board.readAllStandardOutput().toStdString();
    }
    EXPECT_EQ(board.exitCode(), 0);
    std::vector<ShownUpdate> shown;
    reported += board.readAllStandardOutput();
    for (const QByteArray& line : reported.split('\n')) {
        if (auto update = parseUpdate(line.toStdString()))
            shown.push_back(*update);
    }
    // The power-up screen, every cycle in order, the blanking.
    ASSERT_EQ(shown.size(), sent.size() + 2);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(shown[i + 1].lamps, lumora::hexBytes(sent[i].lamps)) << "cycle " << i;
        EXPECT_EQ(shown[i + 1].line1, std::string(sent[i].textView())) << "cycle " << i;
    }
    EXPECT_EQ(shown.back().lamps, std::string(128, '0'));
    EXPECT_EQ(shown.back().line1, std::string(20, ' '));
}

// Start on a real port resets the board (DTR), and its bootloader reads
// the line. Lumora's run there begins with zeros: the bootloader takes no
// byte of the picture or the text, writes nothing, and the first lamps show
// within two seconds of Start.
TEST(SimulatedDisplayEndToEnd, OnARealPortTheBoardsBootloaderNeverReadsThePicture)
{
    for (const char* bootloader : {"optiboot", "old"}) {
        SCOPED_TRACE(bootloader);
        QProcess board;
        const QString slave =
            lumora::testing::startListener(board, LUMORA_SIM_PROGRAM,
                                           {"--headless", "--print-updates", "--quit-after-blankings", "1",
                                            "--bootloader", bootloader, "--reset-on-open", "--seconds", "60"});
        ASSERT_FALSE(slave.isEmpty());
        // Powered on long before Start: the old bootloader runs at power-on too.
        QByteArray reported;
        while (!reported.contains("|   Lumora display   |") && board.waitForReadyRead(10000))
            reported += board.readAllStandardOutput();
        ASSERT_TRUE(reported.contains("|   Lumora display   |")) << reported.toStdString();

        lumora::fakeuart::attach(slave.toStdString());
        lumora::testing::TestBridge lib;
        lib.reset();
        // Every character of the text is a command of one of the bootloaders.
        lumora::FrmMain frm;
        frm.setMarqueeText("dU0 t@ dUdU 0d ddd  ");
        frm.MSComm1->setPortOneDevice(slave);
        ASSERT_TRUE(frm.Form_Load());
        frm.show();
        std::mt19937 random(8);
        lumora::testing::streamCycles(frm, lib, random, 200);
        lumora::fakeuart::attach({});
        if (!board.waitForFinished(20000)) {
            board.terminate();
            board.waitForFinished(5000);
        }
        reported += board.readAllStandardOutput();
        const std::string report = reported.toStdString();
        long resetAt = -1;
        long firstLampsAt = -1;
        for (const QByteArray& line : reported.split('\n')) {
            long ms = 0;
            if (resetAt < 0 && std::sscanf(line.constData(), "R %ld", &ms) == 1)
                resetAt = ms;
            else if (const auto update = parseUpdate(line.toStdString());
                     resetAt >= 0 && firstLampsAt < 0 && update && update->lamps != std::string(128, '0'))
                firstLampsAt = std::stol(line.split(' ').at(2).toStdString());
        }
        ASSERT_GE(resetAt, 0) << report;
        ASSERT_GE(firstLampsAt, 0) << report;
        EXPECT_LE(firstLampsAt - resetAt, 2000) << report;
        EXPECT_NE(report.find("firmware intact: yes"), std::string::npos) << report;
        EXPECT_NE(report.find("EEPROM writes: 0"), std::string::npos) << report;
        EXPECT_NE(report.find("resets: power-on 1, reset pin 1,"), std::string::npos) << report;
        const auto taken = report.find("bytes taken by the bootloader: ");
        ASSERT_NE(taken, std::string::npos) << report;
        const std::string hex =
            report.substr(report.find('(', taken) + 1, report.find(')', taken) - report.find('(', taken) - 1);
        EXPECT_LE(hex.size(), 16u) << report;
        EXPECT_EQ(hex.find_first_not_of('0'), std::string::npos) << report;
    }
}

}  // namespace
