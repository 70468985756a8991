// SPDX-License-Identifier: GPL-3.0-or-later
// The pace of a 57600-baud line, for a device that has no line of its own
// (a pseudo-terminal).
//
// The line starts a byte every 1 / 5760 s: byte k handed since the clock
// (re)started begins at start + k / 5760 s. The pacer lets the device have
// a byte up to `lead` before its time, as a UART's driver holds bytes in
// its queue while the line shifts them out, so that a moment in which the
// sender gets no processor is no silence on the line; its reader plays the
// receiving UART. Bytes handed whose time has not come count as waiting,
// exactly as a driver's queue would.
//
// A line that has carried all it was given starts afresh when new bytes
// come (idle time is no credit for a burst), and so does a line whose
// device refused bytes (its reader stopped), once it takes them again.
//
// Plain arithmetic on the times it is given; single thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lumora {

class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit LinePacer(Clock::duration lead) : m_lead(lead) { }

    // A fresh line, as for a newly opened device.
    void reset(Clock::time_point now);
    // Call before handing bytes after the queue in front of the line ran
    // empty: a line that is idle by `now` starts afresh.
    void restartIfIdle(Clock::time_point now);

    // How many of `queued` bytes may be handed to the device at `now`.
    std::size_t due(Clock::time_point now, std::size_t queued);
    // `count` bytes were handed; `refused` when the device took fewer than
    // it was offered.
    void handed(std::size_t count, bool refused);

    // Bytes handed whose time on the line has not begun by `now`.
    int ahead(Clock::time_point now) const;
    // When no more than `waiting` bytes will wait, if `queued` bytes not yet
    // handed follow the ones handed, each in its turn.
    Clock::time_point whenWaitingAtMost(int waiting, std::size_t queued) const;

private:
    // Line slots begun by `t`: byte k's slot begins at m_start + k / 5760 s.
    std::int64_t slotsBegunBy(Clock::time_point t) const;
    Clock::time_point slotStart(std::int64_t slot) const;

    Clock::duration m_lead;
    Clock::time_point m_start{};
    std::int64_t m_handed = 0;  // bytes handed since m_start
    bool m_refused = false;
};

}  // namespace lumora
