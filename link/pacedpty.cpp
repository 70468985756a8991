// SPDX-License-Identifier: GPL-3.0-or-later
#include "pacedpty.h"

#include "cycleformat.h"

#include <algorithm>

namespace lumora {

PacedPty::PacedPty(int outputBufferBytes, Clock::time_point now)
{
    m_leadBytes = std::min(static_cast<int>(wire::kLineBytesPerSecond * kLead.count() / 1000), outputBufferBytes);
    m_batch = std::min(wire::kCycleBytes, outputBufferBytes / 2);
    m_handOverAt = m_leadBytes - m_batch;
    m_earlyBytes = std::min(kEarlyBytes, m_batch / 4);
    m_pacer.reset(now);
}

std::size_t PacedPty::due(Clock::time_point now, std::size_t queued, bool awake)
{
    // A whole batch goes when the lead has room for it; awake anyway, when
    // it has room for a few bytes, so that the next batch falls due
    // together with the next refill. Fewer bytes wait until the lead runs
    // low: they are most likely the start of the next batch.
    if (queued == 0)
        return 0;
    const int ahead = m_pacer.ahead(now);
    if (queued < static_cast<std::size_t>(m_batch) ? ahead > m_handOverAt / 2
                                                   : ahead > (awake ? m_leadBytes - m_earlyBytes : m_handOverAt))
        return 0;
    m_pacer.restartIfIdle(now);  // idle time is no credit for a burst
    return m_pacer.due(now, queued);
}

void PacedPty::handed(std::size_t count, bool refused, Clock::time_point)
{
    m_pacer.handed(count, refused);
}

int PacedPty::waiting(Clock::time_point now, bool)
{
    return m_pacer.ahead(now);
}

LineDevice::Clock::time_point PacedPty::whenWaitingAtMost(int target, std::size_t queued, Clock::time_point) const
{
    return m_pacer.whenWaitingAtMost(target, queued);
}

LineDevice::Clock::time_point PacedPty::nextHandOver(std::size_t queued, Clock::time_point now,
                                                     Clock::time_point awake) const
{
    if (queued == 0)
        return Clock::time_point::max();
    // Less than a batch waits until the lead is half as full as a batch
    // lets it get: 3.6 ms of line at the smallest buffer, several timer
    // ticks from running dry.
    if (queued < static_cast<std::size_t>(m_batch))
        return std::max(now, m_pacer.whenWaitingAtMost(m_handOverAt / 2, 0));
    const Clock::time_point due = std::max(now, m_pacer.whenWaitingAtMost(m_handOverAt, 0));
    // The lead still holds a batch's worth then: it can wait a few bytes.
    const auto mayWait = std::chrono::microseconds(m_earlyBytes * 1'000'000 / wire::kLineBytesPerSecond);
    if (awake >= due && awake - due <= mayWait)
        return awake;
    return due;
}

bool PacedPty::drain(int&)
{
    return true;  // the line beyond the pty is its reader's
}

}  // namespace lumora
