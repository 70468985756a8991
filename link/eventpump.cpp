// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventpump.h"

#include <QCoreApplication>
#include <QTimer>

namespace lumora {

void EventPump::yield()
{
    if (++m_yieldsSinceClockRead < kYieldsPerClockRead)
        return;
    m_yieldsSinceClockRead = 0;
    if (Clock::now() - m_lastFullPass >= kFullPassInterval)
        fullPass();
}

void EventPump::pause(int yields)
{
    if (yields <= 0)
        return;
    fullPass();
    for (int i = 1; i < yields; ++i)
        yield();
}

void EventPump::fullPass()
{
    QCoreApplication::processEvents();
    m_lastFullPass = Clock::now();
    m_yieldsSinceClockRead = 0;
    ++m_fullPasses;
}

void EventPump::waitForEvents(Clock::time_point until)
{
    // Qt's timers count whole milliseconds: round up, so that the wait
    // never ends before `until`.
    const auto left = until - Clock::now();
    if (left <= Clock::duration::zero())
        return;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(ms);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace lumora
