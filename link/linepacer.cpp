// SPDX-License-Identifier: GPL-3.0-or-later
#include "linepacer.h"

#include "cycleformat.h"

#include <algorithm>

namespace lumora {

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

}  // namespace

void LinePacer::reset(Clock::time_point now)
{
    m_start = now;
    m_handed = 0;
    m_refused = false;
}

void LinePacer::restartIfIdle(Clock::time_point now)
{
    if (slotStart(m_handed) <= now)
        reset(now);
}

std::int64_t LinePacer::slotsBegunBy(Clock::time_point t) const
{
    if (t < m_start)
        return 0;
    // In whole seconds and the rest, so that a line weeks old cannot overflow.
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(t - m_start).count();
    return elapsed / kNanosPerSecond * wire::kLineBytesPerSecond +
           elapsed % kNanosPerSecond * wire::kLineBytesPerSecond / kNanosPerSecond + 1;
}

LinePacer::Clock::time_point LinePacer::slotStart(std::int64_t slot) const
{
    // Rounded up, so that slotsBegunBy(slotStart(k)) counts slot k.
    const std::int64_t nanos = slot / wire::kLineBytesPerSecond * kNanosPerSecond +
                               (slot % wire::kLineBytesPerSecond * kNanosPerSecond + wire::kLineBytesPerSecond - 1) /
                                   wire::kLineBytesPerSecond;
    return m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanos));
}

std::size_t LinePacer::due(Clock::time_point now, std::size_t queued)
{
    if (m_refused)
        reset(now);  // the reader took bytes again: the line resumes now
    const std::int64_t open = slotsBegunBy(now + m_lead) - m_handed;
    return static_cast<std::size_t>(std::clamp<std::int64_t>(open, 0, static_cast<std::int64_t>(queued)));
}

void LinePacer::handed(std::size_t count, bool refused)
{
    m_handed += static_cast<std::int64_t>(count);
    m_refused = refused;
}

int LinePacer::ahead(Clock::time_point now) const
{
    return static_cast<int>(m_handed - std::min(m_handed, slotsBegunBy(now)));
}

LinePacer::Clock::time_point LinePacer::whenWaitingAtMost(int waiting, std::size_t queued) const
{
    // Waiting drops to `waiting` when the slot of byte (all - waiting - 1) begins.
    const std::int64_t all = m_handed + static_cast<std::int64_t>(queued);
    const std::int64_t slot = all - std::max(waiting, 0) - 1;
    return slot < 0 ? Clock::time_point{} : slotStart(slot);
}

}  // namespace lumora
