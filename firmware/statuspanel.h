// SPDX-License-Identifier: GPL-3.0-or-later
// Line 2 of the LCD: the state of the link and two counters.
//
//   column  0     7         13
//           68/s   rs 0  lost 0
//
//   columns 0..5   the state: "ready" (nothing received yet), the cycles per
//                  second while cycles come, "blank" after a blanking
//                  sequence, "silent" when no byte came for a second
//   column 7       "rs" and the times the reader had to get back in step with
//                  the cycles since it first found them
//   column 13      "lost" and the bytes the board lost or received damaged
//                  since the line was first in step (after a whole cycle, or
//                  a millisecond of quiet: a receiver switched on in the
//                  middle of a byte misreads it, which is no loss)
// Counts show up to 99.
#pragma once

#include <stdint.h>

class StatusPanel {
public:
    static constexpr uint8_t kColumns = 20;
    static constexpr uint8_t kStateColumn = 0;
    static constexpr uint8_t kStepLossColumn = 7;
    static constexpr uint8_t kLostColumn = 13;
    static constexpr uint16_t kCounterCap = 99;

    // The reader's total of step losses and the line's total of lost or
    // damaged bytes, as they stand now.
    struct Totals {
        uint32_t stepLosses;
        uint32_t lostBytes;
    };

    // A cycle (`ordinary`) or a blanking sequence was shown.
    void shown(bool ordinary, const Totals& totals);
    // A whole millisecond went by without a byte: the line is in step.
    void quietMillisecond(const Totals& totals);
    // Once a second; `heard`: a byte came during it.
    void secondPassed(bool heard);

    // The 20 characters of line 2.
    void text(char* line, const Totals& totals) const;
    // Whether the state (not a count) changed since the last call.
    bool takeStateChange();

private:
    enum class State : uint8_t { Waiting, Live, Blanked, Silent };

    // A running total counted only from a moment on (the first time the
    // board was in step): capped at 65535, never wrapping.
    class CountFrom {
    public:
        void start(uint32_t total)
        {
            if (!m_started) {
                m_started = true;
                m_base = total;
            }
        }
        uint16_t since(uint32_t total) const
        {
            const uint32_t n = m_started ? total - m_base : 0;
            return n > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(n);
        }

    private:
        bool m_started = false;
        uint32_t m_base = 0;
    };

    State m_state = State::Waiting;
    State m_reported = State::Waiting;
    uint16_t m_cyclesThisSecond = 0;
    uint16_t m_cyclesPerSecond = 0;
    CountFrom m_stepLosses;
    CountFrom m_lost;
};
