// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventpump.h"

#include <QCoreApplication>

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
    for (int i = 1; i < yields; ++i)
        yield();
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
