// SPDX-License-Identifier: GPL-3.0-or-later
// The byte stream from Lumora to the light display, as the sender writes it.
//
// What the bytes of a cycle and of the blanking sequence mean, and the line
// settings, are defined in cycleformat.h, shared with the display's
// firmware. Here: the pauses that the sender makes between its writes, and
// the cycle as a value the host programs pass around.
//
// The sender writes a cycle as 28 writes: each of the 8 lamp groups at
// once, then each of the 20 characters alone. After each lamp group it
// yields 250 times, after each character 500 times. The blanking sequence
// begins with a hold-off of 5000 yields and nothing written, then the same
// 28 writes of its dark lamps and spaces, each followed by 2000 yields.
//
// A pause is counted in passes of the sender's event pump ("yields"), never
// in time: how long it lasts depends on the sending machine.
#pragma once

#include "cycleformat.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::wire {

constexpr int kYieldsAfterLampGroup = 250;
constexpr int kYieldsAfterTextChar = 500;
constexpr int kBlankingHoldOffYields = 5000;
constexpr int kYieldsAfterBlankGroup = 2000;
constexpr int kYieldsAfterBlankChar = 2000;

// Yields per cycle and per blanking sequence (12000 and 61000).
constexpr int kYieldsPerCycle = kRows * kYieldsAfterLampGroup + kTextLength * kYieldsAfterTextChar;
constexpr int kYieldsPerBlanking =
    kBlankingHoldOffYields + kRows * kYieldsAfterBlankGroup + kTextLength * kYieldsAfterBlankChar;

// Bytes that may wait between the sender and the wire at any moment: 512
// by default. A sender may keep fewer waiting, to shorten the lag between
// the music and the lamps, but never fewer than one whole cycle.
constexpr int kOutputBufferBytes = 512;
constexpr int kSmallestOutputBufferBytes = kCycleBytes;

// How a run begins on a real serial port (not on a pseudo-terminal).
// Opening the port resets an Uno or Nano (DTR pulls its reset pin), and its
// bootloader then reads the line for commands before it starts the
// firmware: optiboot (Uno, newer Nano; 115200 baud) from 0.44 s after the
// reset until 1.5 s, the old Nano bootloader (57600 baud) from 0.27 s until
// 1.46 s. Either can take picture or text bytes as a command that writes
// its flash. So the run first sends kResetFillerBytes zero bytes, 600 ms
// of line: both bootloaders take a zero for no command and start the
// firmware at once (0.52 s and 0.27 s after the reset), and a zero frame
// has a single falling edge, so a receiver that starts listening in the
// middle of the run reads zeros too. The display's reader skips them: 64
// lamp bytes cannot be followed by 20 zeros in a cycle.
constexpr std::uint8_t kResetFillerByte = 0x00;
constexpr int kResetFillerBytes = kLineBytesPerSecond * 600 / 1000;  // 3456

// What one cycle carries: the 64 lamp bytes in wire order (row-major, row 1
// column 1 first) and the 20 text characters.
struct Cycle {
    std::array<std::uint8_t, kLampBytes> lamps{};
    std::array<char, kTextLength> text{};

    std::uint8_t lamp(int row, int column) const  // both 1..8
    {
        return lamps[static_cast<std::size_t>((row - 1) * kColumns + (column - 1))];
    }
    std::string_view textView() const { return {text.data(), text.size()}; }
    bool operator==(const Cycle&) const = default;
};

// Whether lamp 1..8 of a group is lit by its lamp byte: bit lamp - 1.
constexpr bool lampLit(std::uint8_t lampByte, int lamp)
{
    return ((lampByte >> (lamp - 1)) & 1U) != 0;
}

// One write of the sender followed by its pause.
struct Step {
    std::vector<std::uint8_t> bytes;  // may be empty (the blanking hold-off)
    int yieldsAfter = 0;
    bool operator==(const Step&) const = default;
};

// The blanking sequence's content: all lamps 0, text all spaces.
Cycle blankCycle();
bool isBlanking(const Cycle& cycle);

// The 84 bytes of a cycle, in wire order.
std::array<std::uint8_t, kCycleBytes> encode(const Cycle& cycle);
// The inverse of encode(); bytes must hold exactly kCycleBytes.
Cycle decode(std::span<const std::uint8_t> bytes);

// The writes and pauses of one cycle (8 lamp groups, then 20 characters)
// and of the blanking sequence (a hold-off, 8 groups, 20 spaces).
std::vector<Step> cycleSteps(const Cycle& cycle);
std::vector<Step> blankingSteps();

}  // namespace lumora::wire
