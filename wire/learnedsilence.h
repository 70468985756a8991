// SPDX-License-Identifier: GPL-3.0-or-later
// The silence threshold, learned from the stream: how long the line must
// be quiet before the next byte is taken to begin a new count.
//
// The sender paces itself in passes of its event loop, not in time, so its
// pauses scale with its machine: a character pause lasts from next to
// nothing to 10 ms, the hold-off before the blanking sequence 10 times as
// long, the pauses inside the blanking 4 times. The threshold is therefore
// kFactor (6) times the longest pause seen inside the last LearningCycles
// ordinary cycles: between the blanking's inner pauses and the hold-off.
// It is kept within [floor, ceiling], and is `initial` until a cycle has
// been learned from. A blanking sequence teaches nothing: its longer
// pauses would hide the next hold-off.
//
// Shared by lumora-display (in nanoseconds) and the display's firmware (in
// milliseconds of its clock): plain C++14 without the standard library.
// Duration is the caller's unit: an unsigned integer or a std::chrono
// duration; only differences of times are ever given. Single thread.
#pragma once

#include <stdint.h>

namespace lumora {
namespace wire {

template <typename Duration, uint8_t LearningCycles> class LearnedSilence {
public:
    static constexpr uint8_t kFactor = 6;

    struct Limits {
        Duration initial;
        Duration floor;
        Duration ceiling;
    };

    explicit LearnedSilence(const Limits& limits) : m_limits(limits), m_threshold(limits.initial) { }

    // A pause between two bytes of the cycle being read.
    void pauseInCycle(Duration pause)
    {
        if (m_longest < pause)
            m_longest = pause;
    }
    // The pauses so far belong to no cycle (a silence, dropped bytes).
    void forgetPauses() { m_longest = Duration(); }
    // The cycle being read was complete: an ordinary one teaches its
    // longest pause, a blanking sequence nothing.
    void cycleEnded(bool ordinary)
    {
        const Duration longestInCycle = m_longest;
        m_longest = Duration();
        if (!ordinary)
            return;
        m_recent[m_next] = longestInCycle;
        m_next = static_cast<uint8_t>((m_next + 1) % LearningCycles);
        if (m_learned < LearningCycles)
            ++m_learned;
        Duration longest = Duration();
        for (uint8_t i = 0; i < m_learned; ++i) {
            if (longest < m_recent[i])
                longest = m_recent[i];
        }
        // Compared before multiplying, so that a narrow Duration cannot overflow.
        m_threshold = longest > m_limits.ceiling / kFactor ? m_limits.ceiling
                      : longest * kFactor < m_limits.floor ? m_limits.floor
                                                           : longest * kFactor;
    }

    Duration threshold() const { return m_threshold; }
    bool learned() const { return m_learned > 0; }

private:
    Limits m_limits;
    Duration m_threshold;
    Duration m_longest = Duration();
    Duration m_recent[LearningCycles] = {};
    uint8_t m_next = 0;
    uint8_t m_learned = 0;
};

}  // namespace wire
}  // namespace lumora
