// SPDX-License-Identifier: GPL-3.0-or-later
#include "statuspanel.h"

namespace {

// Writes n (capped) at position; returns the end.
uint8_t putNumber(char* text, uint8_t position, uint16_t n)
{
    if (n > StatusPanel::kCounterCap)
        n = StatusPanel::kCounterCap;
    if (n >= 10)
        text[position++] = static_cast<char>('0' + n / 10);
    text[position++] = static_cast<char>('0' + n % 10);
    return position;
}

uint8_t putText(char* text, uint8_t position, const char* word)
{
    while (*word && position < StatusPanel::kColumns)
        text[position++] = *word++;
    return position;
}

}  // namespace

void StatusPanel::shown(bool ordinary, const Totals& totals)
{
    m_stepLosses.start(totals.stepLosses);
    m_lost.start(totals.lostBytes);
    if (!ordinary) {
        m_state = State::Blanked;
        return;
    }
    ++m_cyclesThisSecond;
    if (m_state != State::Live) {
        m_state = State::Live;
        m_cyclesPerSecond = m_cyclesThisSecond;
    }
}

void StatusPanel::quietMillisecond(const Totals& totals)
{
    m_lost.start(totals.lostBytes);
}

void StatusPanel::secondPassed(bool heard)
{
    m_cyclesPerSecond = m_cyclesThisSecond;
    m_cyclesThisSecond = 0;
    if (m_state == State::Live && !heard)
        m_state = State::Silent;
}

void StatusPanel::text(char* line, const Totals& totals) const
{
    for (uint8_t i = 0; i < kColumns; ++i)
        line[i] = ' ';
    switch (m_state) {
    case State::Waiting: putText(line, kStateColumn, "ready"); break;
    case State::Blanked: putText(line, kStateColumn, "blank"); break;
    case State::Silent: putText(line, kStateColumn, "silent"); break;
    case State::Live: putText(line, putNumber(line, kStateColumn, m_cyclesPerSecond), "/s"); break;
    }
    putNumber(line, putText(line, kStepLossColumn, "rs "), m_stepLosses.since(totals.stepLosses));
    putNumber(line, putText(line, kLostColumn, "lost "), m_lost.since(totals.lostBytes));
}

bool StatusPanel::takeStateChange()
{
    const bool changed = m_state != m_reported;
    m_reported = m_state;
    return changed;
}
