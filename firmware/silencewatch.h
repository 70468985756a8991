// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the decoder when a silence on the line came before a byte, by the
// firmware's millisecond clock (which wraps after 65.5 s): a pause longer
// than the learned threshold (wire/learnedsilence.h).
//
// Pauses are measured in whole milliseconds, from the main loop, so a pause
// reads at most one pass of the loop long or short. The floor is high on
// purpose: a sender on a busy computer stalls now and then for tens of
// milliseconds in the middle of a cycle (most of all in its first cycles,
// while its window comes up), and a stall taken for a silence would cut
// that cycle in two. A silence that is missed costs nothing the decoder
// cannot recover; the silences that matter, between runs and after a
// reset, last seconds.
#pragma once

#include "learnedsilence.h"

#include <stdint.h>

class SilenceWatch {
public:
    static constexpr uint16_t kInitialMs = 500;
    static constexpr uint16_t kFloorMs = 100;
    static constexpr uint16_t kCeilingMs = 500;
    static constexpr uint8_t kLearningCycles = 8;

    // The line is listened to from nowMs on: if it stays quiet for the
    // threshold, that is a silence too, and the first byte begins a cycle.
    void listenFrom(uint16_t nowMs)
    {
        m_heard = true;
        m_lastMs = nowMs;
    }

    // Called on every pass of the main loop (at least every millisecond):
    // true once, at the moment a silence begins, so that the decoder hears
    // of it while the line is still quiet (and a silence longer than the
    // millisecond clock's wrap, 65 s, is still seen).
    bool tick(uint16_t nowMs)
    {
        if (m_silent || !m_heard || static_cast<uint16_t>(nowMs - m_lastMs) <= m_learned.threshold())
            return false;
        m_silent = true;
        return true;
    }

    // A byte taken at nowMs: true if a silence came before it (told by
    // tick() already, or found only now because the loop was busy).
    bool byteAt(uint16_t nowMs)
    {
        tick(nowMs);
        const bool silent = m_silent;
        if (m_heard && !silent && m_insideCycle)
            m_learned.pauseInCycle(static_cast<uint16_t>(nowMs - m_lastMs));
        m_heard = true;
        m_silent = false;
        m_insideCycle = true;
        m_lastMs = nowMs;
        return silent;
    }

    // The byte just taken completed an ordinary cycle (learn from its
    // pauses) or a blanking sequence, whose longer pauses teach nothing.
    void cycleEnded(bool ordinary)
    {
        m_insideCycle = false;
        m_learned.cycleEnded(ordinary);
    }

private:
    lumora::wire::LearnedSilence<uint16_t, kLearningCycles> m_learned{{kInitialMs, kFloorMs, kCeilingMs}};
    uint16_t m_lastMs = 0;
    bool m_heard = false;
    bool m_silent = false;
    bool m_insideCycle = false;
};
