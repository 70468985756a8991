// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's real window (offscreen) streaming through a pseudo-terminal into
// lumora-display --headless, which decodes the stream as a display would.
// Every cycle Lumora sent must arrive intact and in order, then the
// blanking sequence, with the largest output buffer and the smallest.
#include "frmmain.h"
#include "pty.h"
#include "serialline.h"
#include "streamedrun.h"
#include "wireformat.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <random>

namespace {

std::string hexOf(const lumora::wire::Cycle& cycle)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : lumora::wire::encode(cycle)) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

class EndToEnd : public ::testing::TestWithParam<int> { };

TEST_P(EndToEnd, EveryCycleArrivesIntactAndInOrderThenTheBlanking)
{
    QProcess display;
    // A fixed silence threshold longer than the whole test. The stream
    // starts on a cycle boundary and nothing in it needs a silence to
    // realign, while Lumora's pauses are counted in passes of its event
    // pump: on a busy machine the 2000 passes inside the blanking took
    // longer than 500 ms, and a learned or shorter threshold split a cycle.
    const QString slave = lumora::testing::startListener(
        display, LUMORA_DISPLAY_BIN,
        {"--headless", "--print-cycles", "--silence-ms", "60000", "--quit-after-blankings", "1"});
    ASSERT_FALSE(slave.isEmpty());

    lumora::testing::TestBridge lib;
    lib.reset();
    std::mt19937 random(7);
    lumora::FrmMain frm;
    frm.MSComm1->setPortOneDevice(slave);
    frm.MSComm1->setOutputBufferBytes(GetParam());
    ASSERT_TRUE(frm.Form_Load());
    frm.show();

    constexpr int kCycles = 25;
    std::vector<std::string> sent;
    for (const lumora::wire::Cycle& cycle : lumora::testing::streamCycles(frm, lib, random, kCycles))
        sent.push_back(hexOf(cycle));
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kCycles));

    if (display.state() != QProcess::NotRunning) {
        ASSERT_TRUE(display.waitForFinished(20000)) << "lumora-display did not see the blanking; it printed:\n"
                                                    << display.readAllStandardOutput().right(2000).toStdString();
    }
    EXPECT_EQ(display.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(display.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(display.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    std::vector<std::string> cycles;
    std::vector<std::string> blankings;
    for (const QString& line : lines) {
        const QStringList fields = line.split(' ');
        if (fields[0] == "C")
            cycles.push_back(fields[2].toStdString());
        else if (fields[0] == "B")
            blankings.push_back(fields[2].toStdString());
        else
            EXPECT_TRUE(line.contains(':')) << "unexpected line: " << line.toStdString();
    }
    EXPECT_EQ(cycles, sent);
    ASSERT_EQ(blankings.size(), 1u);
    EXPECT_EQ(blankings[0], hexOf(lumora::wire::blankCycle()));
    EXPECT_TRUE(lines.contains("resyncs: 0"));
    EXPECT_TRUE(lines.contains(QString("cycles: %1").arg(kCycles)));
}

INSTANTIATE_TEST_SUITE_P(OutputBuffer, EndToEnd,
                         ::testing::Values(lumora::wire::kOutputBufferBytes, lumora::wire::kSmallestOutputBufferBytes),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "Bytes";
                         });

}  // namespace
