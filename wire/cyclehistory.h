// SPDX-License-Identifier: GPL-3.0-or-later
// The frame's history, as the cycle reader (cyclereader.h) checks it.
//
// From one cycle to the next every row's lamp groups move one column
// toward the middle: columns 2, 3, 4 take the bytes of 1, 2, 3, and 7, 6, 5
// those of 8, 7, 6; `age` cycles on, 4 - age on each side still hold them.
// A count one byte off breaks these relations wherever the frame has two
// neighbours that differ. A cycle is measured against the last cycle
// reported and the one reported before it (columns 1, 2, 7, 8 of each row:
// all that a cycle two or more cycles later can repeat), and the better
// verdict counts: a cycle reported with a shift in its last lamps, which
// nothing checks until the next cycle, cannot hide the true count.
//
// The history decides only once the stream has shown it: a cycle kept the
// history of the one before in a frame with at least kVariedNeighbours
// neighbours that differ (Confirmed). A silence or a blanking sequence
// forgets it; so do two doubtful cycles reported in a row. A stream that
// shows no history is measured only every kSkippedChecks + 1 cycles.
//
// Plain C++14 without the standard library, shared with the firmware.
// About 40 bytes of state.
#pragma once

#include "cycleformat.h"

#include <stdint.h>

namespace lumora {
namespace wire {

class CycleHistory {
public:
    // How a cycle's lamps compare with the history of the cycles before,
    // best first.
    enum class Verdict : uint8_t {
        Keeps,  // at most one relation fails (a damaged byte)
        Near,   // one in 16 fails: may hold a wrong byte next to a fault
        Unclear,
        Breaks,     // one in 4 or more fails
        Unchecked,  // nothing to compare with
    };
    static bool keepsNearly(Verdict verdict) { return verdict <= Verdict::Near; }

    enum class State : uint8_t {
        None,       // after a silence or a blanking sequence
        Seeded,     // no sign yet that the stream keeps its history
        Confirmed,  // a cycle kept the history of the one before, in a frame
                    // with enough neighbours that differ for a shift to show
    };

    // Bytes after which a reported cycle is too old to compare with.
    static constexpr uint16_t kStale = 3 * kCycleBytes + kCycleBytes / 2;

    State state() const { return m_state; }
    // A silence or a blanking: the next run may start from another frame.
    void forget() { m_state = State::None; }

    // Whether this cycle in step goes unchecked (a stream that shows no
    // history is looked at only now and then); counts it if so.
    bool skipThisCheck()
    {
        if (m_skipChecks == 0)
            return false;
        --m_skipChecks;
        return true;
    }

    // The cycle whose bytes start at bytes[start] (wrapping after 83)
    // against `last`, the last cycle reported, which ended `since` bytes
    // ago, and the one reported before it.
    Verdict verdict(const uint8_t* bytes, uint8_t start, const uint8_t* last, uint16_t since) const
    {
        if (m_state == State::None)
            return Verdict::Unchecked;
        const bool deciding = m_state == State::Confirmed;
        const Verdict lastVerdict = compare(bytes, start, last, kColumns, kColumns - 3, age(since), deciding);
        if (lastVerdict == Verdict::Keeps || !m_earlierKept || !deciding)
            return lastVerdict;
        const uint8_t earlierAge = age(static_cast<uint16_t>(since + m_gap));
        if (earlierAge < 2)
            return lastVerdict;
        const Verdict earlier =
            compare(bytes, start, m_earlier, kEarlierColumns, kEarlierColumns - 3, earlierAge, true);
        return earlier < lastVerdict ? earlier : lastVerdict;
    }

    // Before a new cycle replaces `last` (reported `since` bytes ago): the
    // last becomes the earlier one (not while a stream without history is
    // left unchecked).
    void keepEarlier(const uint8_t* last, uint16_t since)
    {
        m_earlierKept = false;
        if (m_state == State::None || m_skipChecks > 0)
            return;
        if (since >= kStale)
            return;
        m_earlierKept = true;
        uint8_t* earlier = m_earlier;
        for (uint8_t row = 0; row < kRows; ++row) {
            earlier[0] = last[0];
            earlier[1] = last[1];
            earlier[2] = last[kColumns - 2];
            earlier[3] = last[kColumns - 1];
            last += kColumns;
            earlier += kEarlierColumns;
        }
        m_gap = since;
    }

    // After the ordinary cycle `reported` was reported with this verdict.
    void remember(Verdict verdict, const uint8_t* reported)
    {
        const bool brokeBefore = m_brokeLast;
        m_brokeLast = false;
        if (m_state == State::None || verdict == Verdict::Unchecked) {
            if (m_state == State::None)
                m_skipChecks = 0;
            m_state = State::Seeded;
        } else if (verdict == Verdict::Keeps && m_state != State::Confirmed) {
            const uint8_t* lamp = reported;
            uint8_t differing = 0;
            for (uint8_t index = 1; index < kLampBytes; ++index, ++lamp) {
                if ((index & (kColumns - 1)) != 0 && lamp[0] != lamp[1])
                    ++differing;
            }
            if (differing >= kVariedNeighbours) {
                m_state = State::Confirmed;
                m_skipChecks = 0;
            }
        } else if (!keepsNearly(verdict)) {
            // Once: the cycle that held a fault. Twice in a row: the stream
            // does not keep its history, or the last two cycles reported
            // were not what was sent; either way, not a measure any more.
            m_brokeLast = true;
            if (brokeBefore)
                m_state = State::Seeded;
            // A stream that shows no history is looked at only now and then.
            if (m_state == State::Seeded)
                m_skipChecks = kSkippedChecks;
        }
    }

private:
    static constexpr int kEarlierColumns = 4;
    static constexpr int kVariedNeighbours = 16;  // of 56 in a frame
    static constexpr uint8_t kSkippedChecks = 7;

    // Cycles between two that end `bytes` apart: 1..3, or 0 when too close
    // or too far apart to compare.
    static uint8_t age(uint16_t bytes)
    {
        return bytes < kCycleBytes / 2                     ? 0
               : bytes < kCycleBytes + kCycleBytes / 2     ? 1
               : bytes < 2 * kCycleBytes + kCycleBytes / 2 ? 2
               : bytes < kStale                            ? 3
                                                           : 0;
    }

    // The lamps of the cycle whose bytes start at bytes[start] (wrapping
    // after 83) against an older cycle `cycles` before it, whose rows are
    // `stride` bytes apart with columns 6, 7, 8 at `right` (of which only 8
    // is read 3 cycles on, 7 and 8 two cycles on). Without allVerdicts,
    // Unclear may stand for Breaks.
    static Verdict compare(const uint8_t* bytes, uint8_t start, const uint8_t* old, uint8_t stride, uint8_t right,
                           uint8_t cycles, bool allVerdicts)
    {
        if (cycles == 0)
            return Verdict::Unchecked;
        const uint8_t relations = static_cast<uint8_t>(kRows * 2 * (4 - cycles));  // 48, 32, 16
        const uint8_t breakAt = relations / 4;
        // Where only Keeps and Near matter, no need to count further.
        const uint8_t enough = allVerdicts ? breakAt : static_cast<uint8_t>(relations / 16 + 1);
        uint8_t misses = 0;
        uint8_t first = start;
        uint8_t wrapped[kColumns];
        for (uint8_t row = 0; row < kRows && misses < enough; ++row, old += stride) {
            if (first >= kCycleBytes)
                first = static_cast<uint8_t>(first - kCycleBytes);
            const uint8_t* group = bytes + first;
            if (first > kCycleBytes - kColumns) {  // the row wraps (never in step)
                uint8_t at = first;
                for (uint8_t& byte : wrapped) {
                    byte = bytes[at];
                    at = at == kCycleBytes - 1 ? 0 : static_cast<uint8_t>(at + 1);
                }
                group = wrapped;
            }
            const uint8_t* oldRight = old + right;
            if (cycles == 1) {
                if (group[1] != old[0])
                    ++misses;
                if (group[2] != old[1])
                    ++misses;
                if (group[3] != old[2])
                    ++misses;
                if (group[4] != oldRight[0])
                    ++misses;
                if (group[5] != oldRight[1])
                    ++misses;
                if (group[6] != oldRight[2])
                    ++misses;
            } else if (cycles == 2) {
                if (group[2] != old[0])
                    ++misses;
                if (group[3] != old[1])
                    ++misses;
                if (group[4] != oldRight[1])
                    ++misses;
                if (group[5] != oldRight[2])
                    ++misses;
            } else {
                if (group[3] != old[0])
                    ++misses;
                if (group[4] != oldRight[2])
                    ++misses;
            }
            first = static_cast<uint8_t>(first + kColumns);
        }
        return misses <= 1                ? Verdict::Keeps
               : misses <= relations / 16 ? Verdict::Near
               : misses >= breakAt        ? Verdict::Breaks
                                          : Verdict::Unclear;
    }

    State m_state = State::None;
    uint8_t m_skipChecks = 0;    // cycles in step to report unchecked
    bool m_brokeLast = false;    // the last cycle reported broke the history
    bool m_earlierKept = false;  // m_earlier holds the cycle reported before the last
    uint16_t m_gap = 0;          // bytes from the end of the earlier cycle to that of the last
    uint8_t m_earlier[kRows * kEarlierColumns] = {};
};

}  // namespace wire
}  // namespace lumora
