// SPDX-License-Identifier: GPL-3.0-or-later
// Reads cycles from the byte stream: counts 84 bytes per cycle, and keeps
// the count in step by the cycles' content as well as by the silences.
//
// Shared by the display's firmware and lumora-display: plain C++14, no heap,
// no exceptions, no standard library beyond <stdint.h>. About 220 bytes of
// state. Single thread: whoever owns the reader feeds it (on the AVR the
// main loop, from the bytes the receive interrupt put into its ring).
//
// Input
//   feed(byte)   every byte as it arrives.
//   silence()    the line was quiet for longer than any pause inside a
//                cycle. The caller measures that (a timer on the AVR,
//                arrival times on the host) and calls this before the next
//                byte; calling it again during the same silence is harmless.
//
// Output
//   feed() and silence() return what they completed: nothing, a cycle, or
//   the blanking sequence (64 x 0x00, 20 spaces). cycle() holds its 84
//   bytes in wire order until the next one completes. counts() tells how
//   often the count was lost and how many bytes went into no cycle:
//     bytes fed = 84 x (cycles + blankings) + droppedBytes + pendingBytes().
//
// Why content. A fast sender leaves no pause inside a run, so one byte
// lost, added or changed on the line would shift a plain count until the
// next Stop. But a well-formed cycle has a shape (cycleformat.h): 64 lamp
// bytes from a set of 16 values, then 20 printable characters. Counted one
// place off, a character lands among the lamps or a lamp byte among the
// text, at the two seams of the cycle (offsets 63|64 and 83|0). It goes
// unseen only when the bytes at the seam are among the three values that
// are both (0x20 ' ', 0x3F '?', 0x40 '@').
//
// States
//   IN STEP    Each byte is checked against its offset in the count. A
//              cycle is reported when offset 83 arrives and all 84 bytes
//              fit. A byte that does not fit its offset (call it the
//              culprit) means the count or the byte is wrong: the cycle
//              is not reported and the reader goes SEARCHING.
//   SEARCHING  The reader follows all 84 possible counts at once, as two
//              sets of the offsets the latest byte would have in them:
//                strong: counts that every byte since the culprit fits,
//                        the culprit included (a lost or added byte),
//                weak:   counts that every byte after the culprit fits
//                        (the culprit was itself a corrupted byte).
//              When some count reaches offset 83 with a whole cycle behind
//              it that arrived after the culprit (from the culprit on, if
//              it is strong), the reader takes it if it is the single best
//              by this order, most likely fault first:
//                1. strong, one byte off the old count: a byte was lost or
//                   added before the culprit;
//                2. the old count, weak: the culprit was corrupted;
//                3. weak, one byte off: the culprit was an added byte;
//                4. strong, farther away (several bytes lost, or the reader
//                   started in the middle of a cycle);
//                5. weak, farther away;
//              a tie is no choice, and the search goes on. Taking a count
//              reports its cycle and goes IN STEP there; a count other than
//              the old one is a realignment. When no count is left (more
//              than one fault, or a stream that is not cycles at all), the
//              search starts over at the byte that emptied it.
//
// A silence ends any count. If it finds the reader SEARCHING with a whole
// cycle's worth of bytes since the last reported cycle, and the last 84
// bytes fit as one cycle, that cycle is reported (the sender's pause marks
// where its cycle ended: this is how a blanking sequence right after a lost
// or added byte is still seen). Otherwise the partial count is dropped, a
// resynchronisation. Either way the next byte starts a new count at offset
// 0. The reader starts as if after a silence.
//
// What this guarantees, and what it cannot:
// - A stream of well-formed cycles is never misread: IN STEP the true count
//   never meets a culprit, so the reader never leaves it. (A silence the
//   caller reports inside a cycle moves the count, and the content then
//   brings it back.)
// - Only cycles that fit the rule are reported; nothing else is shown.
// - After a lost, added or corrupted byte the cycle that held it is lost
//   (or, if the fault left it well-formed, reported as it arrived), and the
//   next cycle comes out exactly, as long as the seams show a count one
//   byte off.
// - Where they do not (the text starts or ends with a space while band 0
//   or band 7 sits at level 6 or 7), the bytes after a lost or added byte
//   are themselves a stream of well-formed cycles, one byte off. A reader
//   that never misreads well-formed cycles cannot tell it from the truth,
//   so the cycles are shown shifted until a seam shows the fault; the cycle
//   after that comes out exactly. Over Lumora's streams
//   (bench/cyclereader_recovery) a lost byte cost at most 2 cycles, a
//   repeated or added one 3 in about 1 case in 100, a corrupted one 3 in 1
//   in 10000; with random texts of many spaces a few in a hundred cost 3
//   or more.
// - Work per byte is bounded and small: IN STEP a few comparisons (the
//   bytes go straight to their offset, and a complete cycle's buffer trades
//   places with the last one, nothing is copied); SEARCHING two 84-bit
//   shifts and masks. Taking a count after a search copies 84 bytes once.
//   On an ATmega328P at 16 MHz (bench/avr/measure): about 110 cycles per
//   byte in step, 560 on bytes that never form a cycle, and about 3100 for
//   the one call that takes a new count, against 2778 cycles between two
//   bytes at 57600 baud.
#pragma once

#include "cycleformat.h"

#include <stdint.h>

namespace lumora {
namespace wire {

class CycleReader {
public:
    enum class Completed : uint8_t { Nothing, Cycle, Blanking };

    struct Counts {
        uint32_t cycles = 0;        // ordinary cycles reported
        uint32_t blankings = 0;     // blanking sequences reported
        uint32_t resyncs = 0;       // silences that ended a partial count
        uint32_t realignments = 0;  // counts moved because of the content
        uint32_t droppedBytes = 0;  // bytes that are in no reported cycle
    };

    Completed feed(uint8_t byte)
    {
        m_offset = m_offset == kCycleBytes - 1 ? 0 : m_offset + 1;
        ring()[m_offset] = byte;
        if (m_pending == kCycleBytes)
            ++m_counts.droppedBytes;  // the oldest waiting byte can no longer be in a cycle
        else
            ++m_pending;
        if (m_searching)
            return search(byte);
        if (!fitsCycleOffset(byte, m_offset)) {
            startSearch(byte);
            return Completed::Nothing;
        }
        const bool blank = byte == (m_offset < kLampBytes ? kBlankLamp : static_cast<uint8_t>(kBlankChar));
        m_blankSoFar = blank && (m_offset == 0 || m_blankSoFar);
        if (m_offset != kCycleBytes - 1)
            return Completed::Nothing;
        // The ring holds the cycle in wire order: it becomes the cycle.
        m_cycleBuffer = static_cast<uint8_t>(1 - m_cycleBuffer);
        return counted(m_blankSoFar);
    }

    Completed silence()
    {
        Completed result = Completed::Nothing;
        if (m_pending == kCycleBytes && lastBytesFit()) {
            result = takeEndingCount();
        } else if (m_pending > 0) {
            m_counts.droppedBytes += m_pending;
            ++m_counts.resyncs;
            m_pending = 0;
        }
        m_searching = false;
        m_offset = kCycleBytes - 1;
        return result;
    }

    // The 84 bytes of the last cycle reported, in wire order (all zero
    // before the first). The pointer changes when the next cycle completes.
    const uint8_t* cycle() const { return m_buffers[m_cycleBuffer]; }
    const Counts& counts() const { return m_counts; }
    // Bytes since the last reported cycle that may still become part of
    // one, 0..84.
    int pendingBytes() const { return m_pending; }
    bool searching() const { return m_searching; }

private:
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
            const uint32_t bit = byte == 0   ? inByte
                                 : byte == 1 ? inByte << 8
                                 : byte == 2 ? inByte << 16
                                             : inByte << 24;
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
        bool endsCycle() const
        {
            return (static_cast<uint8_t>(high >> 16) & (1U << (kTextLength - 1 - 16))) != 0;
        }
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

    // The searching side of feed(), apart so that the common path stays
    // short on a small processor.
    __attribute__((noinline)) void startSearch(uint8_t culprit)
    {
        m_searching = true;
        m_searchAge = 1;
        m_strong.fill(isLampByte(culprit), isTextByte(culprit));
        m_weak.fill(true, true);
    }

    __attribute__((noinline)) Completed search(uint8_t byte)
    {
        const bool lamp = isLampByte(byte);
        const bool text = isTextByte(byte);
        m_strong.advance();
        m_strong.keepFitting(lamp, text);
        m_weak.advance();
        m_weak.keepFitting(lamp, text);
        if (m_searchAge <= kCycleBytes)
            ++m_searchAge;
        if (m_weak.empty()) {
            m_searchAge = 1;
            m_strong.fill(lamp, text);
            m_weak.fill(true, true);
            return Completed::Nothing;
        }
        if (!m_weak.endsCycle())
            return Completed::Nothing;
        // A count reaches the end of a cycle with this byte.
        const bool wholeCycleAfterCulprit =
            m_searchAge > kCycleBytes || (m_searchAge == kCycleBytes && m_strong.endsCycle());
        if (!wholeCycleAfterCulprit || !endingCountIsBest())
            return Completed::Nothing;
        return takeEndingCount();
    }

    // Whether the count at offset 83 is the single best candidate.
    bool endingCountIsBest() const
    {
        const int before = m_offset == 0 ? kCycleBytes - 1 : m_offset - 1;
        const int after = m_offset == kCycleBytes - 1 ? 0 : m_offset + 1;
        const CountSet same = CountSet::only(m_offset);
        const CountSet beside = CountSet::only(before) | CountSet::only(after);
        const CountSet near = same | beside;
        const CountSet weakOnly = m_weak.without(m_strong);
        const CountSet ranked[] = {m_strong & beside, m_weak & same, weakOnly & beside,
                                   m_strong.without(near), weakOnly.without(near)};
        for (const CountSet& candidates : ranked) {
            if (!candidates.empty())
                return candidates == CountSet::only(kCycleBytes - 1);
        }
        return false;
    }

    // The last 84 bytes, written at the count's offset: in wire order when
    // the count is in step, else starting after the latest byte.
    uint8_t* ring() { return m_buffers[1 - m_cycleBuffer]; }

    // Whether the last 84 bytes fit as one cycle.
    bool lastBytesFit()
    {
        int index = m_offset;
        for (int offset = 0; offset < kCycleBytes; ++offset) {
            index = index == kCycleBytes - 1 ? 0 : index + 1;
            if (!fitsCycleOffset(ring()[index], offset))
                return false;
        }
        return true;
    }

    // Goes in step with the count whose cycle ends with the latest byte and
    // reports that cycle, copied out of the ring.
    Completed takeEndingCount()
    {
        uint8_t* cycle = m_buffers[m_cycleBuffer];
        const uint8_t* bytes = ring();
        const int oldest = m_offset == kCycleBytes - 1 ? 0 : m_offset + 1;
        int offset = 0;
        for (int index = oldest; index < kCycleBytes; ++index)
            cycle[offset++] = bytes[index];
        for (int index = 0; index < oldest; ++index)
            cycle[offset++] = bytes[index];
        bool blank = true;
        for (offset = 0; offset < kCycleBytes && blank; ++offset)
            blank = cycle[offset] == (offset < kLampBytes ? kBlankLamp : static_cast<uint8_t>(kBlankChar));
        if (m_offset != kCycleBytes - 1)
            ++m_counts.realignments;
        m_offset = kCycleBytes - 1;
        m_searching = false;
        return counted(blank);
    }

    Completed counted(bool blank)
    {
        m_pending = 0;
        if (blank) {
            ++m_counts.blankings;
            return Completed::Blanking;
        }
        ++m_counts.cycles;
        return Completed::Cycle;
    }

    // Two buffers of 84 bytes: the last reported cycle and the ring, which
    // trade places when the ring fills with a cycle in step.
    uint8_t m_buffers[2][kCycleBytes] = {};
    uint8_t m_cycleBuffer = 0;
    uint8_t m_offset = kCycleBytes - 1; // offset of the latest byte in the count
    uint8_t m_pending = 0;
    uint8_t m_searchAge = 0;            // bytes since the culprit, it included; stops at 85
    bool m_searching = false;
    bool m_blankSoFar = false;          // the cycle in step is blank up to m_offset
    CountSet m_strong = CountSet::none();
    CountSet m_weak = CountSet::none();
    Counts m_counts;
};

}  // namespace wire
}  // namespace lumora
