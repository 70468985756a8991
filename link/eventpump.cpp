// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventpump.h"

#include <QCoreApplication>

#include <algorithm>

namespace lumora {

void EventPump::yield()
{
    if (++m_yieldsSinceClockRead < kYieldsPerClockRead)
        return;
    m_yieldsSinceClockRead = 0;
    if (fullPassDue())
        fullPass();
}

void EventPump::pause(int yields)
{
    if (yields <= 0)
        return;
    m_yieldsSinceClockRead = 0;
    if (fullPassDue())
        fullPass();
    // The other yields, counted in runs up to the next clock read: the same
    // reads and passes as yield() one at a time, without a loop of
    // increments (12000 a cycle).
    auto remaining = static_cast<unsigned>(yields - 1);
    while (remaining > 0) {
        const unsigned run = std::min(remaining, kYieldsPerClockRead - m_yieldsSinceClockRead);
        m_yieldsSinceClockRead += run;
        remaining -= run;
        if (m_yieldsSinceClockRead == kYieldsPerClockRead) {
            m_yieldsSinceClockRead = 0;
            if (fullPassDue())
                fullPass();
        }
    }
}

void EventPump::fullPass()
{
    QCoreApplication::processEvents();
    m_lastFullPass = m_clock();
    m_yieldsSinceClockRead = 0;
    ++m_fullPasses;
}

void EventPump::sleep()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace lumora
