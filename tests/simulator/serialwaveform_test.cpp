// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line as a receiver at any rate reads it: the simulated board
// decides with it what a bootloader at another baud rate takes from the
// line, so it must read what a real UART reads.
#include "serialwaveform.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using lumora::sim::SerialWaveform;

constexpr double kClock = 16e6;
constexpr double kLineBit = kClock / 57600;  // the sender
// The receivers' bit times, from their divider: (UBRR + 1) * 8 with U2X.
constexpr double kFirmware = 35 * 8;        // 57143 baud
constexpr double kOptiboot = 17 * 8;        // 117647 baud
constexpr double kOldBootloader = 17 * 16;  // 58824 baud, without U2X

struct Read {
    std::uint8_t byte;
    bool framingError;
    bool operator==(const Read&) const = default;
};

// Everything a receiver with bit time `bit` reads, listening from `from`.
std::vector<Read> readAll(const std::vector<std::uint8_t>& sent, double bit, double from = 0)
{
    SerialWaveform line(kLineBit);
    for (std::uint8_t byte : sent)
        line.send(byte, 0);
    std::vector<Read> read;
    while (auto r = line.receive(from, bit)) {
        read.push_back({r->byte, r->framingError});
        from = r->completed;
    }
    return read;
}

TEST(SerialWaveform, ReadsWhatAUartAtItsRateReads)
{
    const std::vector<std::uint8_t> picture = {0x00, 0xFF, 0x64, 0x55, 0x30, 0x7F, 0x20, 0x80};
    std::vector<Read> asSent;
    for (std::uint8_t b : picture)
        asSent.push_back({b, false});
    struct Case {
        const char* what;
        std::vector<std::uint8_t> sent;
        double bit;
        double from;
        std::vector<Read> read;
    };
    const Case cases[] = {
        {"the firmware 0.8 % slow reads every byte", picture, kFirmware, 0, asSent},
        {"the old bootloader 2.1 % fast reads every byte", picture, kOldBootloader, 0, asSent},
        {"at twice the rate, a zero reads as a zero with its stop bit low, once per frame",
         {0x00, 0x00, 0x00},
         kOptiboot,
         0,
         {{0x00, true}, {0x00, true}, {0x00, true}}},
        {"at twice the rate, 0xFF reads as 0xFE", {0xFF, 0xFF}, kOptiboot, 0, {{0xFE, false}, {0xFE, false}}},
        {"listening from inside a run of zeros starts at the next frame",
         {0x00, 0x00, 0x00},
         kFirmware,
         3.5 * kLineBit,
         {{0x00, false}, {0x00, false}}},
        {"listening from inside a frame starts on its next falling edge",
         {0x55},
         kFirmware,
         1.5 * kLineBit,
         {{0xD5, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(readAll(c.sent, c.bit, c.from), c.read);
    }
}

TEST(SerialWaveform, BytesWaitForTheLineAndKeepTheirOrder)
{
    SerialWaveform line(kLineBit);
    line.send(0x41, 0);
    line.send(0x42, 0);                // back to back
    line.send(0x43, 100 * kLineBit);   // after a pause
    EXPECT_EQ(line.waitingAt(0), 2u);  // the first has begun
    EXPECT_EQ(line.waitingAt(50 * kLineBit), 1u);
    EXPECT_FALSE(line.level(10.5 * kLineBit));  // the second's start bit follows the first's stop bit
    EXPECT_TRUE(line.level(50 * kLineBit));     // idle between
    EXPECT_EQ(line.dropEndedBy(20 * kLineBit), 2u);
    const auto third = line.receive(20 * kLineBit, kFirmware);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->byte, 0x43);
}

}  // namespace
