// SPDX-License-Identifier: GPL-3.0-or-later
// Reads cycles from the byte stream: counts 84 bytes per cycle, and keeps
// the count in step by the cycles' content as well as by the silences.
//
// Shared by the display's firmware and lumora-display: plain C++14, no heap,
// no exceptions, no standard library beyond <stdint.h>. About 200 bytes of
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
// are both (0x20 ' ', 0x3F '?', 0x40 '@'): with a text full of spaces that
// happens, which is why a misaligned count may take a cycle or two to show.
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
//   search picks the right count by the end of the next cycle unless the
//   seams around the fault hold values that fit both ways. How often that
//   happens depends on the text and the levels; the host tests measure it.
// - Work per byte is constant: a few comparisons IN STEP, and while
//   SEARCHING two 84-bit shifts and masks. A completed cycle copies 84
//   bytes once.
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
        m_ring[m_head] = byte;
        m_head = m_head == kCycleBytes - 1 ? 0 : m_head + 1;
        if (m_pending == kCycleBytes)
            ++m_counts.droppedBytes;  // the oldest waiting byte can no longer be in a cycle
        else
            ++m_pending;
        m_offset = m_offset == kCycleBytes - 1 ? 0 : m_offset + 1;

        const bool lamp = isLampByte(byte);
        const bool text = isTextByte(byte);
        if (!m_searching) {
            if (m_offset < kLampBytes ? !lamp : !text) {
                startSearch(lamp, text);
                return Completed::Nothing;
            }
            return m_offset == kCycleBytes - 1 ? complete() : Completed::Nothing;
        }

        m_strong.advance();
        m_strong.keepFitting(lamp, text);
        m_weak.advance();
        m_weak.keepFitting(lamp, text);
        if (m_searchAge <= kCycleBytes)
            ++m_searchAge;
        if (m_weak.empty()) {
            startSearch(lamp, text);
            return Completed::Nothing;
        }
        if (!m_weak.has(kCycleBytes - 1))
            return Completed::Nothing;
        // A count reaches the end of a cycle with this byte.
        const bool wholeCycleAfterCulprit =
            m_searchAge > kCycleBytes ||
            (m_searchAge == kCycleBytes && m_strong.has(kCycleBytes - 1));
        if (!wholeCycleAfterCulprit || !endingCountIsBest())
            return Completed::Nothing;
        return takeEndingCount();
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
    // before the first).
    const uint8_t* cycle() const { return m_cycle; }
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

        static CountSet all() { return {0xFFFFFFFFUL, 0xFFFFFFFFUL, kHighMask}; }
        static CountSet none() { return {0, 0, 0}; }
        static CountSet only(int offset)
        {
            CountSet set = none();
            const uint32_t bit = 1UL << (offset & 31);
            if (offset < 32)
                set.low = bit;
            else if (offset < 64)
                set.middle = bit;
            else
                set.high = bit;
            return set;
        }

        // One more byte: every count moves on by one offset, 83 wrapping to 0.
        void advance()
        {
            const uint32_t wrapped = high >> (kTextLength - 1);
            high = ((high << 1) | (middle >> 31)) & kHighMask;
            middle = (middle << 1) | (low >> 31);
            low = (low << 1) | wrapped;
        }
        // Keeps the counts in which a byte of this kind fits its offset.
        void keepFitting(bool lamp, bool text)
        {
            if (!lamp)
                low = middle = 0;
            if (!text)
                high = 0;
        }
        bool has(int offset) const
        {
            const uint32_t word = offset < 32 ? low : offset < 64 ? middle : high;
            return ((word >> (offset & 31)) & 1U) != 0;
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

    void startSearch(bool lamp, bool text)
    {
        m_searching = true;
        m_searchAge = 1;
        m_strong = CountSet::all();
        m_strong.keepFitting(lamp, text);
        m_weak = CountSet::all();
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

    // Whether the last 84 bytes fit as one cycle.
    bool lastBytesFit() const
    {
        int index = m_head;  // the oldest byte
        for (int offset = 0; offset < kCycleBytes; ++offset) {
            if (!fitsCycleOffset(m_ring[index], offset))
                return false;
            index = index == kCycleBytes - 1 ? 0 : index + 1;
        }
        return true;
    }

    // Goes in step with the count whose cycle ends with the latest byte and
    // reports that cycle.
    Completed takeEndingCount()
    {
        if (m_offset != kCycleBytes - 1)
            ++m_counts.realignments;
        m_offset = kCycleBytes - 1;
        m_searching = false;
        return complete();
    }

    // The last 84 bytes are a cycle: copies it out and counts it.
    Completed complete()
    {
        bool blank = true;
        int index = m_head;
        for (int offset = 0; offset < kCycleBytes; ++offset) {
            const uint8_t byte = m_ring[index];
            m_cycle[offset] = byte;
            blank = blank && byte == (offset < kLampBytes ? kBlankLamp : static_cast<uint8_t>(kBlankChar));
            index = index == kCycleBytes - 1 ? 0 : index + 1;
        }
        m_pending = 0;
        if (blank) {
            ++m_counts.blankings;
            return Completed::Blanking;
        }
        ++m_counts.cycles;
        return Completed::Cycle;
    }

    uint8_t m_ring[kCycleBytes] = {};   // the last 84 bytes; m_head is the oldest
    uint8_t m_cycle[kCycleBytes] = {};  // the last reported cycle
    uint8_t m_head = 0;                 // where the next byte goes
    uint8_t m_offset = kCycleBytes - 1; // offset of the latest byte in the count
    uint8_t m_pending = 0;
    uint8_t m_searchAge = 0;            // bytes since the culprit, it included; stops at 85
    bool m_searching = false;
    CountSet m_strong = CountSet::none();
    CountSet m_weak = CountSet::none();
    Counts m_counts;
};

}  // namespace wire
}  // namespace lumora
