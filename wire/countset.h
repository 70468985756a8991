// SPDX-License-Identifier: GPL-3.0-or-later
// A set of the 84 possible counts of a byte stream, for the cycle reader's
// search (cyclereader.h): each count named by the offset (0..83) that the
// latest byte has in it.
//
// Plain C++14 without the standard library, shared with the firmware: on
// the AVR a long shift is a loop, so the set is three 32-bit words, and top
// bits are read by sign and bit 83 by byte.
#pragma once

#include "cycleformat.h"

#include <stdint.h>

namespace lumora {
namespace wire {

// A set of counts, named by the offset (0..83) that the latest byte has
// in each: bits 0..31 in `low`, 32..63 in `middle`, 64..83 in `high`, so
// the lamp offsets fill the first two words and the text offsets the
// third.
struct CountSet {
    uint32_t low;
    uint32_t middle;
    uint32_t high;

    static constexpr uint32_t kHighMask = (1UL << kTextLength) - 1;

    // All counts in which a byte of this kind fits its offset.
    void fill(bool lamp, bool text)
    {
        low = middle = lamp ? 0xFFFFFFFFUL : 0;
        high = text ? kHighMask : 0;
    }
    static CountSet none() { return {0, 0, 0}; }
    static CountSet only(int offset)
    {
        CountSet set = none();
        const uint32_t inByte = static_cast<uint8_t>(1U << (offset & 7));
        const int byte = (offset >> 3) & 3;
        const uint32_t bit = byte == 0 ? inByte : byte == 1 ? inByte << 8 : byte == 2 ? inByte << 16 : inByte << 24;
        if (offset < 32)
            set.low = bit;
        else if (offset < 64)
            set.middle = bit;
        else
            set.high = bit;
        return set;
    }

    // One more byte: every count moves on by one offset, 83 wrapping to 0.
    // (Top bits are read by sign and bit 83 by byte: on the AVR a long
    // shift is a loop.)
    void advance()
    {
        const bool wrapped = endsCycle();
        high = (high << 1) & kHighMask;
        if (static_cast<int32_t>(middle) < 0)
            high |= 1;
        middle <<= 1;
        if (static_cast<int32_t>(low) < 0)
            middle |= 1;
        low <<= 1;
        if (wrapped)
            low |= 1;
    }
    // Keeps the counts in which a byte of this kind fits its offset.
    void keepFitting(bool lamp, bool text)
    {
        if (!lamp)
            low = middle = 0;
        if (!text)
            high = 0;
    }
    // Whether the set holds the count at offset 83.
    bool endsCycle() const { return (static_cast<uint8_t>(high >> 16) & (1U << (kTextLength - 1 - 16))) != 0; }
    bool empty() const { return (low | middle | high) == 0; }
    bool operator==(const CountSet& other) const
    {
        return low == other.low && middle == other.middle && high == other.high;
    }
    CountSet operator&(const CountSet& other) const
    {
        return {low & other.low, middle & other.middle, high & other.high};
    }
    CountSet operator|(const CountSet& other) const
    {
        return {low | other.low, middle | other.middle, high | other.high};
    }
    CountSet without(const CountSet& other) const
    {
        return {low & ~other.low, middle & ~other.middle, high & ~other.high};
    }
};

}  // namespace wire
}  // namespace lumora
