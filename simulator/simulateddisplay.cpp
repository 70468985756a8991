// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulateddisplay.h"

#include <algorithm>

namespace lumora::sim {

bool lcdGlitchFromName(const std::string& name, LcdGlitch& glitch)
{
    if (name == "stray-e")
        glitch = LcdGlitch::StrayPulse;
    else if (name == "power-drop")
        glitch = LcdGlitch::PowerDrop;
    else if (name == "8-bit")
        glitch = LcdGlitch::EightBit;
    else
        return false;
    return true;
}

std::unique_ptr<SimulatedDisplay> SimulatedDisplay::load(const std::string& elfPath, Bootloader bootloader,
                                                         std::string& error)
{
    auto board = AvrBoard::load(elfPath, bootloader, error);
    if (!board)
        return nullptr;
    return std::unique_ptr<SimulatedDisplay>(new SimulatedDisplay(std::move(board)));
}

SimulatedDisplay::SimulatedDisplay(std::unique_ptr<AvrBoard> board)
    : m_board(std::move(board)), m_chain(kRows), m_receiver(*m_board),
      m_wiring(std::make_unique<BoardWiring>(*m_board, m_chain, m_lcd))
{
    m_wiring->onStrobe = [this](bool high, std::uint64_t cycle) { strobe(high, cycle); };
    m_wiring->onLcdStrobe = [this] { lcdStrobed(); };
}

SimulatedDisplay::~SimulatedDisplay() = default;

bool SimulatedDisplay::runUntil(std::uint64_t cycle)
{
    // In slices of a millisecond: a glitch in the middle of one may start
    // a power drop, whose end comes within the next.
    while (m_board->cycle() < cycle) {
        std::uint64_t until = std::min(cycle, m_board->cycle() + kCyclesPerMillisecond);
        if (m_lcdPowerBackAt)
            until = std::min(until, m_lcdPowerBackAt);
        if (!m_board->runUntil(until))
            return false;
        if (m_lcdPowerBackAt && m_board->cycle() >= m_lcdPowerBackAt) {
            m_lcdPowerBackAt = 0;
            m_lcd.powerOn(BoardWiring::nanoseconds(m_board->cycle()));
        }
    }
    return true;
}

DisplayState SimulatedDisplay::state() const
{
    DisplayState state;
    for (int row = 0; row < kRows; ++row) {
        for (int group = 0; group < kGroups; ++group)
            state.lamps[static_cast<std::size_t>(row * kGroups + group)] = m_chain.litSegments(row, group);
    }
    const Hd44780::Glass glass = m_lcd.glass();
    state.lines = glass.lines;
    state.lcdCursor = glass.cursorShown;
    return state;
}

void SimulatedDisplay::lcdGlitch(LcdGlitch glitch)
{
    switch (glitch) {
    case LcdGlitch::StrayPulse: m_lcd.strayPulse(BoardWiring::nanoseconds(m_board->cycle())); break;
    case LcdGlitch::PowerDrop:
        m_lcd.powerOff();
        m_lcdPowerBackAt = m_board->cycle() + kLcdPowerDropCycles;
        break;
    case LcdGlitch::EightBit: m_lcd.fallBackTo8Bit(); break;
    }
}

void SimulatedDisplay::lcdGlitchAfterStrobes(LcdGlitch glitch, std::uint64_t strobes)
{
    if (strobes == 0) {
        lcdGlitch(glitch);
        return;
    }
    m_pendingGlitch = PendingGlitch{glitch, m_lcd.enableStrobes() + strobes};
}

void SimulatedDisplay::lcdPower(bool on)
{
    if (on && !m_lcd.powered())
        m_lcd.powerOn(BoardWiring::nanoseconds(m_board->cycle()));
    else if (!on)
        m_lcd.powerOff();
}

void SimulatedDisplay::lcdStrobed()
{
    if (m_pendingGlitch && m_lcd.enableStrobes() >= m_pendingGlitch->afterStrobes) {
        const LcdGlitch glitch = m_pendingGlitch->glitch;
        m_pendingGlitch.reset();
        lcdGlitch(glitch);
    }
}

void SimulatedDisplay::strobe(bool high, std::uint64_t cycle)
{
    if (high) {
        m_strobeRoseAfter = m_receiver.lastReception();
        return;
    }
    Update update;
    update.sequence = ++m_updates;
    update.cycle = cycle;
    if (m_strobeRoseAfter != 0) {
        update.latencyCycles = cycle - m_strobeRoseAfter;
        m_latencyTotal += update.latencyCycles;
        m_latencyMax = std::max(m_latencyMax, update.latencyCycles);
    }
    m_strobeRoseAfter = 0;
    update.state = state();
    if (onUpdate)
        onUpdate(update);
}

}  // namespace lumora::sim
