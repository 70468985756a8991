// SPDX-License-Identifier: GPL-3.0-or-later
// The cycle that Lumora sends to the light display, byte by byte, and the
// rule that tells a well-formed cycle from bytes counted out of step.
//
// Shared by Lumora (the sender), lumora-display and the display's firmware,
// so it is plain C++14 with no standard library beyond <stdint.h>: it
// compiles for the host and for an 8-bit AVR alike.
//
// The serial line: 57600 baud, 8 data bits, no parity, 1 stop bit. With its
// start and stop bit a byte takes 10 bit times, so the line carries at most
// 5760 bytes per second and a cycle needs at least 84 / 5760 s = 14.58 ms.
//
// There is no header, no length, no checksum and no synchronisation byte.
// Every byte goes out exactly as its value, with no character translation.
// One cycle, 84 bytes, repeated for as long as a streaming run lasts:
//
//   offset  bytes  content
//   ------  -----  ------------------------------------------------------
//    0..7     8    lamp group of row 1 (band 0), columns 1..8
//    8..15    8    lamp group of row 2 (band 1)
//    ...
//   56..63    8    lamp group of row 8 (band 7)
//   64..83   20    text, one printable ASCII character per byte
//
// The eight columns of a row are: left now, left -1, left -2, left -3,
// right -3, right -2, right -1, right now (four steps of history per
// channel). In a lamp byte bit k (value 2^k) lights lamp k + 1 of its group,
// lamps counted from level 1 upward.
//
// A lamp byte encodes a level 0..8 in one of two modes:
//
//   level        0    1    2    3    4    5    6    7    8
//   bar mode     0    1    3    7   15   31   63  127  255   lamps 1..level
//   dot mode     0    1    2    4    8   16   32   64  128   lamp `level` only
//
// The mode can change from one cycle to the next and the history columns
// keep the mode they were entered with, so one cycle may hold both kinds.
// These 16 values are the only lamp bytes of a well-formed cycle; the text
// bytes are printable ASCII, 0x20 ' ' to 0x7E '~'. Three values are both:
// 0x20 (' ', dot level 6), 0x3F ('?', bar level 6) and 0x40 ('@', dot
// level 7). Bytes counted one place off put a character among the lamps or
// a lamp byte among the text, which this rule sees unless they are such
// values; cyclereader.h locks onto the cycle with it.
//
// The blanking sequence, sent once when a run stops, is one more cycle of
// dark lamps and blank text: 64 bytes 0x00, then 20 spaces.
#pragma once

#include <stdint.h>

namespace lumora {
namespace wire {

constexpr int kRows = 8;                               // one row per spectrum band
constexpr int kColumns = 8;                            // lamp groups per row (4 history steps x 2 channels)
constexpr int kLampsPerGroup = 8;                      // bits of a lamp byte
constexpr int kLampBytes = kRows * kColumns;           // 64
constexpr int kTextLength = 20;                        // characters of text per cycle
constexpr int kCycleBytes = kLampBytes + kTextLength;  // 84
constexpr int kMaxLevel = 8;

constexpr uint8_t kBlankLamp = 0x00;
constexpr char kBlankChar = ' ';
constexpr uint8_t kFirstTextByte = 0x20;  // ' '
constexpr uint8_t kLastTextByte = 0x7E;   // '~'

constexpr int32_t kBaudRate = 57600;
constexpr int kBitsPerByte = 10;                                                 // start bit, 8 data bits, stop bit
constexpr int kLineBytesPerSecond = static_cast<int>(kBaudRate / kBitsPerByte);  // 5760

// The lamp byte of a level 0..8: bar mode lights lamps 1..level
// (2^level - 1), dot mode lamp `level` alone (2^(level - 1)).
constexpr uint8_t levelLampByte(int level, bool barMode)
{
    return level <= 0 ? 0 : static_cast<uint8_t>(barMode ? (1U << level) - 1U : 1U << (level - 1));
}

// Whether a byte is a level in bar mode (one less than a power of two) or
// in dot mode (zero or a power of two).
constexpr bool isLampByte(uint8_t byte)
{
    return (byte & (byte + 1U)) == 0 || (byte & (byte - 1U)) == 0;
}

constexpr bool isTextByte(uint8_t byte)
{
    return byte >= kFirstTextByte && byte <= kLastTextByte;
}

// Whether `byte` may stand at `offset` (0..83) of a well-formed cycle.
constexpr bool fitsCycleOffset(uint8_t byte, int offset)
{
    return offset < kLampBytes ? isLampByte(byte) : isTextByte(byte);
}

// The byte at `offset` (0..83) of the blanking sequence.
constexpr uint8_t blankByteAt(int offset)
{
    return offset < kLampBytes ? kBlankLamp : static_cast<uint8_t>(kBlankChar);
}

}  // namespace wire
}  // namespace lumora
