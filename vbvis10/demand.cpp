// SPDX-License-Identifier: GPL-3.0-or-later
#include "demand.h"

namespace lumora::vbvis {

Demand::Demand() : m_lastCall(Clock::now().time_since_epoch().count())
{
}

void Demand::touch()
{
    m_lastCall.store(Clock::now().time_since_epoch().count());
    if (!m_paused.load() || !m_paused.exchange(false))
        return;
    std::lock_guard lock(m_mutex);
    m_resumed.notify_all();
}

bool Demand::pauseIfIdle()
{
    if (m_paused.load())
        return true;
    const auto idleSince = [this] { return Clock::now() - Clock::time_point(Clock::duration(m_lastCall.load())); };
    if (idleSince() < kIdleAfter)
        return false;
    m_paused.store(true);
    // A call between the look at the clock and the store above found the
    // source not yet paused and resumed nothing: take it back. (Both sides
    // write, then read, sequentially consistent, so one of them sees the other.)
    if (idleSince() < kIdleAfter && m_paused.exchange(false))
        return false;
    return m_paused.load();
}

bool Demand::waitForCall(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    return m_resumed.wait(lock, stop, [this] { return !m_paused.load(); });
}

}  // namespace lumora::vbvis
