// SPDX-License-Identifier: GPL-3.0-or-later
// The streaming run's yields: the moments in which the window is serviced
// (Stop, Bar Modus, the scroll timer, repaints, the serial line's timers).
//
// A run yields 12000 times a cycle, and a full pass through Qt's event
// loop costs at least one system call: a microsecond or more on a virtual
// machine, which would take the whole 14.58 ms a cycle has on the line. So
// a yield makes a full pass only when something can be waiting:
//   - at the first yield of every pause, so whatever is pending when the
//     run writes is serviced before the pause ends;
//   - otherwise when kFullPassInterval has passed since the last full pass,
//     read from the steady clock (no system call) every kYieldsPerClockRead
//     yields.
// Any other yield costs a counter increment. An event therefore waits at
// most about kFullPassInterval plus one pass while the run is yielding, and
// not at all while it waits for the line (sleep()).
//
// Runs on the thread that owns the event loop; owns nothing.
#pragma once

#include <chrono>
#include <cstdint>

namespace lumora {

class EventPump {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr auto kFullPassInterval = std::chrono::microseconds(200);
    static constexpr unsigned kYieldsPerClockRead = 32;

    // One yield: a full pass when one is due, otherwise next to nothing.
    void yield();
    // The pause after a write: `yields` yields (none for 0), the first of
    // them a full pass.
    void pause(int yields);
    // One pass through the event loop now: every pending event is serviced.
    void fullPass();

    // Sleeps until an event arrives (a click, a timer: the serial line sets
    // one for its next moment), then services what arrived. A waiting run
    // costs no processor time and still answers a click the moment it comes.
    static void sleep();

    // Full passes made so far.
    std::uint64_t fullPasses() const { return m_fullPasses; }

private:
    Clock::time_point m_lastFullPass{};
    unsigned m_yieldsSinceClockRead = 0;
    std::uint64_t m_fullPasses = 0;
};

}  // namespace lumora
