// SPDX-License-Identifier: GPL-3.0-or-later
// The streaming run's yields: the moments in which the window is serviced
// (Stop, Bar Modus, the scroll timer, repaints, the serial line's timers).
//
// A run yields 12000 times a cycle, and a full pass through Qt's event
// loop costs at least one system call and a few microseconds of Qt's own:
// at every yield that would take the whole 14.58 ms a cycle has on the
// line, and even one pass at each of a cycle's 28 pauses costs more than
// the cycle's work. So a yield makes a full pass only when
// kFullPassInterval has passed since the last one, read from the steady
// clock (no system call) at the first yield of every pause and every
// kYieldsPerClockRead yields. Any other yield costs a counter increment. An
// event therefore waits at most about kFullPassInterval plus one pass while
// the run is yielding, and not at all while it waits for the line (sleep(),
// which is a full pass too).
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
    // A skipped yield takes a nanosecond or two, so 256 of them stay far
    // inside kFullPassInterval; a clock read costs some 25 ns on a virtual
    // machine, and at every 32nd yield the reads cost more than the yields.
    static constexpr unsigned kYieldsPerClockRead = 256;

    // One yield: a full pass when one is due, otherwise next to nothing.
    void yield();
    // The pause after a write: `yields` yields (none for 0), the first of
    // them reading the clock.
    void pause(int yields);
    // One pass through the event loop now: every pending event is serviced.
    void fullPass();

    // Sleeps until an event arrives (a click, a timer: the serial line sets
    // one for its next moment), then services what arrived. A waiting run
    // costs no processor time and still answers a click the moment it comes.
    static void sleep();

    // Full passes made so far.
    std::uint64_t fullPasses() const { return m_fullPasses; }

    // The clock the yields read; a test sets its own.
    using ClockReading = Clock::time_point (*)();
    void setClock(ClockReading clock) { m_clock = clock; }

private:
    bool fullPassDue() const { return m_clock() - m_lastFullPass >= kFullPassInterval; }

    ClockReading m_clock = &Clock::now;
    Clock::time_point m_lastFullPass{};
    unsigned m_yieldsSinceClockRead = 0;
    std::uint64_t m_fullPasses = 0;
};

}  // namespace lumora
