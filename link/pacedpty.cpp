// SPDX-License-Identifier: GPL-3.0-or-later
#include "pacedpty.h"

#include "cycleformat.h"

#include <algorithm>

namespace lumora {

PacedPty::PacedPty(int outputBufferBytes, Clock::time_point now)
{
    const int leadBytes =
        std::min(static_cast<int>(wire::kLineBytesPerSecond * kLead.count() / 1000), outputBufferBytes);
    m_handOverAt = leadBytes - std::min(wire::kCycleBytes, outputBufferBytes / 2);
    m_pacer.reset(now);
}

std::size_t PacedPty::due(Clock::time_point now, std::size_t queued)
{
    if (queued == 0 || m_pacer.ahead(now) > m_handOverAt)
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
