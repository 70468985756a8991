// SPDX-License-Identifier: GPL-3.0-or-later
// Reads cycles from the byte stream: counts 84 bytes per cycle, and keeps
// the count in step by the cycles' content and history as well as by the
// silences. How, and why, is in docs/cycle-reader.md.
//
// Shared by the display's firmware and lumora-display: plain C++14, no heap,
// no exceptions, no standard library beyond <stdint.h>. About 260 bytes of
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
// Guarantees
// - A stream of well-formed cycles that keep the history of the cycle
//   before (Lumora's), or that never show history, is never misread.
// - Only cycles that fit the content rule (cycleformat.h) are reported.
// - On Lumora's streams a lost, added or corrupted byte costs at most 2
//   cycles, at every offset (bench/cyclereader_recovery counts it); in a
//   stream without history, a fault whose seams fit both ways may cost 3 or
//   more.
// - A silence ends any count; the next byte starts a cycle. A reader told
//   it starts in the middle of a running stream searches every count.
// - Work per byte is bounded: on an ATmega328P at 16 MHz about 100 cycles
//   in step, at most about 6800 for the one call that takes a new count
//   after a fault, against 2778 between two bytes at 57600 baud
//   (bench/avr/measure).
#pragma once

#include "countset.h"
#include "cycleformat.h"
#include "cyclehistory.h"

#include <stdint.h>

namespace lumora {
namespace wire {

class CycleReader {
public:
    enum class Completed : uint8_t { Nothing, Cycle, Blanking };
    enum class Start : uint8_t { AfterSilence, MidStream };

    explicit CycleReader(Start start = Start::AfterSilence)
    {
        if (start == Start::MidStream) {
            m_mode = Mode::Searching;
            m_searchAge = 0;
            m_strong.fill(true, true);
            m_weak.fill(true, true);
        }
    }

    struct Counts {
        uint32_t cycles = 0;        // ordinary cycles reported
        uint32_t blankings = 0;     // blanking sequences reported
        uint32_t resyncs = 0;       // silences that ended a partial count
        uint32_t realignments = 0;  // counts moved because of the content or the history
        uint32_t droppedBytes = 0;  // bytes that are in no reported cycle
    };

    Completed feed(uint8_t byte)
    {
        take(byte);
        if (m_mode != Mode::InStep)
            return m_mode == Mode::Searching ? search(byte) : settleHeld(byte);
        if (!fitsCycleOffset(byte, m_offset)) {
            startSearch(byte);
            return Completed::Nothing;
        }
        const bool blank = byte == blankByteAt(m_offset);
        m_blankSoFar = blank && (m_offset == 0 || m_blankSoFar);
        if (m_offset != kCycleBytes - 1)
            return Completed::Nothing;
        return cycleInStep();
    }

    Completed silence()
    {
        if (m_mode == Mode::Holding)
            m_pending = kCycleBytes;  // the held cycle is whole: its first byte is still in the ring
        Completed result = Completed::Nothing;
        if (m_pending == kCycleBytes && lastBytesFit()) {
            result = takeEndingCount(Verdict::Unchecked);
        } else if (m_pending > 0) {
            m_counts.droppedBytes += m_pending;
            ++m_counts.resyncs;
            m_pending = 0;
        }
        m_mode = Mode::InStep;
        m_offset = kCycleBytes - 1;
        m_history.forget();
        m_countKnown = false;
        return result;
    }

    // The 84 bytes of the last cycle reported, in wire order (all zero
    // before the first). The pointer changes when the next cycle completes.
    const uint8_t* cycle() const { return m_buffers[m_cycleBuffer]; }
    const Counts& counts() const { return m_counts; }
    // Bytes since the last reported cycle that may still become part of
    // one, 0..84.
    int pendingBytes() const { return m_pending + (m_mode == Mode::Holding ? 1 : 0); }

private:
    using Verdict = CycleHistory::Verdict;
    static bool keepsNearly(Verdict verdict) { return CycleHistory::keepsNearly(verdict); }

    enum class Mode : uint8_t {
        InStep,
        Searching,
        Holding,  // a whole cycle in step waits for the next byte
    };

    // The latest byte goes into the ring at the next offset of the count.
    __attribute__((always_inline)) void take(uint8_t byte)
    {
        m_offset = m_offset == kCycleBytes - 1 ? 0 : static_cast<uint8_t>(m_offset + 1);
        ring()[m_offset] = byte;
        if (m_pending == kCycleBytes)
            ++m_counts.droppedBytes;  // the oldest waiting byte can no longer be in a cycle
        else
            ++m_pending;
    }

    // The searching side of feed(), apart so that the common path stays
    // short on a small processor.
    __attribute__((noinline)) void startSearch(uint8_t culprit)
    {
        m_mode = Mode::Searching;
        restartSearch(isLampByte(culprit), isTextByte(culprit));
    }

    // Every count is possible again; those that put the latest byte (a lamp
    // value, a character) where it fits are the strong ones.
    __attribute__((always_inline)) void restartSearch(bool lamp, bool text)
    {
        m_searchAge = 1;
        m_strong.fill(lamp, text);
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
            restartSearch(lamp, text);
            return Completed::Nothing;
        }
        if (!m_weak.endsCycle())
            return Completed::Nothing;
        return countEnds();
    }

    // A count reaches the end of a cycle with the latest byte. Where the
    // stream has shown its history, the history decides: a cycle that keeps
    // it is taken as soon as all its bytes fit (and none went out in the
    // last cycle), one that breaks it never. Otherwise the content does.
    __attribute__((noinline)) Completed countEnds()
    {
        const uint8_t oldest = m_offset == kCycleBytes - 1 ? 0 : static_cast<uint8_t>(m_offset + 1);
        Verdict verdict = Verdict::Unchecked;
        if (m_history.state() == CycleHistory::State::Confirmed) {
            verdict = historyVerdict(ring(), oldest);
            if (verdict == Verdict::Breaks)
                return Completed::Nothing;
            if (keepsNearly(verdict) && m_pending == kCycleBytes && (m_searchAge > kCycleBytes || lastBytesFit()))
                return takeEndingCount(verdict);
        }
        const bool wholeCycleAfterCulprit =
            m_searchAge > kCycleBytes || (m_searchAge == kCycleBytes && m_strong.endsCycle());
        if (!wholeCycleAfterCulprit || !endingCountIsBest())
            return Completed::Nothing;
        if (m_history.state() == CycleHistory::State::Seeded)
            verdict = historyVerdict(ring(), oldest);
        return takeEndingCount(verdict);
    }

    // A whole cycle in step, all its bytes fitting. Where the stream has
    // shown its history and this cycle breaks it, a count one byte off
    // whose cycle keeps the history is taken instead: the one that ended
    // with the byte before (its first byte went out with the last cycle,
    // so it is not reported; the count moves back), or the one that ends
    // with the next byte (this cycle is held until then).
    __attribute__((noinline)) Completed cycleInStep()
    {
        uint8_t* bytes = ring();
        if (m_blankSoFar)
            return reportRing(true, Verdict::Unchecked);
        if (m_history.skipThisCheck())
            return reportRing(false, Verdict::Unchecked);
        const Verdict verdict = historyVerdict(bytes, 0);
        if (!keepsNearly(verdict) && m_history.state() == CycleHistory::State::Confirmed) {
            if (isTextByte(bytes[kLampBytes - 1]) && isLampByte(bytes[kCycleBytes - 1]) &&
                keepsNearly(historyVerdict(bytes, kCycleBytes - 1))) {
                m_counts.droppedBytes += kCycleBytes - 1;
                ++m_counts.realignments;
                bytes[0] = bytes[kCycleBytes - 1];
                m_offset = 0;
                m_pending = 1;
                m_blankSoFar = false;  // a character there: not the blank lamp
                return Completed::Nothing;
            }
            if (isLampByte(bytes[kLampBytes])) {
                m_heldVerdict = historyVerdict(bytes, 1);
                if (keepsNearly(m_heldVerdict)) {
                    // The next byte overwrites the first: it is kept aside,
                    // and counted apart in pendingBytes().
                    m_mode = Mode::Holding;
                    m_heldFirst = bytes[0];
                    m_pending = kCycleBytes - 1;
                    return Completed::Nothing;
                }
            }
        }
        return reportRing(false, verdict);
    }

    // The byte after a held cycle, in the ring at offset 0: a character
    // completes the count one byte later, anything else starts the next
    // cycle of the count in step, whose held cycle is reported now.
    __attribute__((noinline)) Completed settleHeld(uint8_t byte)
    {
        m_mode = Mode::InStep;
        if (isTextByte(byte)) {
            ++m_counts.droppedBytes;                // the held cycle's first byte
            return takeEndingCount(m_heldVerdict);  // lamp 63 is a character: not blank
        }
        keepEarlier();
        uint8_t* cycle = m_buffers[m_cycleBuffer];
        const uint8_t* held = ring();
        cycle[0] = m_heldFirst;
        for (int offset = 1; offset < kCycleBytes; ++offset)
            cycle[offset] = held[offset];
        const Completed result = counted(false, Verdict::Breaks);
        m_pending = 1;
        if (isLampByte(byte))
            m_blankSoFar = byte == kBlankLamp;
        else
            startSearch(byte);
        return result;
    }

    // Whether the count at offset 83 is the single best candidate.
    bool endingCountIsBest() const
    {
        if (!m_countKnown) {
            const CountSet& best = m_strong.empty() ? m_weak : m_strong;
            return best == CountSet::only(kCycleBytes - 1);
        }
        const int before = m_offset == 0 ? kCycleBytes - 1 : m_offset - 1;
        const int after = m_offset == kCycleBytes - 1 ? 0 : m_offset + 1;
        const CountSet same = CountSet::only(m_offset);
        const CountSet beside = CountSet::only(before) | CountSet::only(after);
        const CountSet near = same | beside;
        const CountSet weakOnly = m_weak.without(m_strong);
        const CountSet ranked[] = {m_strong & beside, m_weak & same, weakOnly & beside, m_strong.without(near),
                                   weakOnly.without(near)};
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
    Completed takeEndingCount(Verdict verdict)
    {
        keepEarlier();
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
            blank = cycle[offset] == blankByteAt(offset);
        if (m_offset != kCycleBytes - 1)
            ++m_counts.realignments;
        m_offset = kCycleBytes - 1;
        m_mode = Mode::InStep;
        return counted(blank, verdict);
    }

    // Reports the ring, which holds a cycle in wire order: it becomes the
    // cycle, nothing is copied.
    Completed reportRing(bool blank, Verdict verdict)
    {
        keepEarlier();
        m_cycleBuffer = static_cast<uint8_t>(1 - m_cycleBuffer);
        return counted(blank, verdict);
    }

    Completed counted(bool blank, Verdict verdict)
    {
        m_pending = 0;
        m_countKnown = true;
        if (blank) {
            ++m_counts.blankings;
            m_history.forget();  // the blanking breaks the history on purpose
            return Completed::Blanking;
        }
        ++m_counts.cycles;
        m_history.remember(verdict, m_buffers[m_cycleBuffer]);
        m_droppedAtLast = m_counts.droppedBytes;
        return Completed::Cycle;
    }

    Verdict historyVerdict(const uint8_t* bytes, uint8_t start) const
    {
        return m_history.verdict(bytes, start, m_buffers[m_cycleBuffer], sinceLast());
    }

    void keepEarlier() { m_history.keepEarlier(m_buffers[m_cycleBuffer], sinceLast()); }

    // Bytes since the last reported cycle ended, up to CycleHistory::kStale:
    // each is waiting or dropped since.
    uint16_t sinceLast() const
    {
        const uint32_t since = m_pending + (m_counts.droppedBytes - m_droppedAtLast);
        return since < CycleHistory::kStale ? static_cast<uint16_t>(since) : CycleHistory::kStale;
    }

    // Two buffers of 84 bytes: the last reported cycle and the ring, which
    // trade places when the ring fills with a cycle in step.
    uint8_t m_buffers[2][kCycleBytes] = {};
    uint8_t m_cycleBuffer = 0;
    uint8_t m_offset = kCycleBytes - 1;  // offset of the latest byte in the count
    uint8_t m_pending = 0;
    uint8_t m_searchAge = 0;  // bytes since the culprit, it included; stops at 85
    Mode m_mode = Mode::InStep;
    bool m_blankSoFar = false;                   // the cycle in step is blank up to m_offset
    Verdict m_heldVerdict = Verdict::Unchecked;  // of the count one byte later, while holding
    uint8_t m_heldFirst = 0;                     // the held cycle's first byte, while holding
    CycleHistory m_history;
    bool m_countKnown = false;     // a cycle was read since the start or the last silence
    uint32_t m_droppedAtLast = 0;  // m_counts.droppedBytes when the last cycle was reported
    CountSet m_strong = CountSet::none();
    CountSet m_weak = CountSet::none();
    Counts m_counts;
};

}  // namespace wire
}  // namespace lumora
