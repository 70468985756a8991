// SPDX-License-Identifier: GPL-3.0-or-later
#include "pacedpty.h"

#include "cycleformat.h"

#include <algorithm>

namespace lumora {

PacedPty::PacedPty(int outputBufferBytes, Clock::time_point now)
{
    const int leadBytes =
        std::min(static_cast<int>(wire::kLineBytesPerSecond * kLead.count() / 1000), outputBufferBytes);
    const int batch = std::min(wire::kCycleBytes, outputBufferBytes / 2);
    m_handOverAt = leadBytes - batch;
    m_earlyBytes = std::min(kEarlyBytes, batch / 4);
    m_pacer.reset(now);
}

std::size_t PacedPty::due(Clock::time_point now, std::size_t queued, bool awake)
{
    // Woken a little before the batch is due (for the refill of a waiting
    // write; timers count whole milliseconds): hand it now, and sleep on.
    const int handAt = awake ? m_handOverAt + m_earlyBytes : m_handOverAt;
    if (queued == 0 || m_pacer.ahead(now) > handAt)
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

LineDevice::Clock::time_point PacedPty::nextHandOver(std::size_t queued, Clock::time_point now) const
{
    if (queued == 0)
        return Clock::time_point::max();
    return std::max(now, m_pacer.whenWaitingAtMost(m_handOverAt, 0));
}

bool PacedPty::drain(int&)
{
    return true;  // the line beyond the pty is its reader's
}

}  // namespace lumora
