// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardwiring.h"

extern "C" {
#include <avr_extint.h>
#include <avr_ioport.h>
#include <sim_avr.h>
#include <sim_irq.h>
}

namespace lumora::sim {

namespace {

constexpr pins::Pin lcdData(int n)
{
    return {pins::kLcdD4.port, static_cast<std::uint8_t>(pins::kLcdD4.bit + n)};
}

}  // namespace

BoardWiring::BoardWiring(AvrBoard& board, Max7219Chain& chain, Hd44780& lcd)
    : m_board(board), m_chain(chain), m_lcd(lcd)
{
    const std::array<std::pair<pins::Pin, Part>, 10> table{{
        {pins::kLampDin, Part::LampDin},
        {pins::kLampClk, Part::LampClk},
        {pins::kLampLoad, Part::LampLoad},
        {pins::kLcdRs, Part::LcdRs},
        {pins::kLcdE, Part::LcdE},
        {lcdData(0), Part::LcdD4},
        {lcdData(1), Part::LcdD5},
        {lcdData(2), Part::LcdD6},
        {lcdData(3), Part::LcdD7},
        {pins::kStrobe, Part::Strobe},
    }};
    for (std::size_t i = 0; i < table.size(); ++i) {
        m_wires[i] = {this, table[i].second};
        avr_irq_register_notify(board.pinIrq(table[i].first), &BoardWiring::onPin, &m_wires[i]);
    }
    // D2 is also INT0, which the firmware leaves off. simavr would poll a
    // low level there every few cycles all the same while the jumper holds it.
    avr_extint_set_strict_lvl_trig(board.avr(), 0, 0);
    applySelfTestJumper();
    lettingGo();
    board.onReset([this](ResetCause) {
        lettingGo();
        applySelfTestJumper();  // the reset cleared the port's registers
    });
}

void BoardWiring::setSelfTestJumper(bool fitted)
{
    m_selfTestJumper = fitted;
    applySelfTestJumper();
}

void BoardWiring::applySelfTestJumper()
{
    avr_t* avr = m_board.avr();
    avr_ioport_external_t external{};
    external.name = static_cast<unsigned char>(pins::kSelfTest.port);
    external.mask = 1U << pins::kSelfTest.bit;
    external.value = m_selfTestJumper ? 0 : 1U << pins::kSelfTest.bit;
    avr_ioctl(avr, AVR_IOCTL_IOPORT_SET_EXTERNAL(pins::kSelfTest.port), &external);
    // A reset clears the pin register but not the pin's last level, and a
    // level raised again unchanged is no change: raise both.
    avr_irq_t* pin = m_board.pinIrq(pins::kSelfTest);
    avr_raise_irq(pin, m_selfTestJumper ? 1 : 0);
    avr_raise_irq(pin, m_selfTestJumper ? 0 : 1);
}

// The chip's pins float: the pull resistors set LOAD and E, the strobe's
// LED goes dark.
void BoardWiring::lettingGo()
{
    pin(Part::LampLoad, true);
    pin(Part::LcdE, false);
    m_strobe = false;
}

void BoardWiring::pin(Part part, bool high)
{
    const Hd44780::Nanoseconds now = nanoseconds(m_board.cycle());
    switch (part) {
    case Part::LampDin: m_chain.setDin(high); break;
    case Part::LampClk: m_chain.setClk(high); break;
    case Part::LampLoad: m_chain.setLoad(high); break;
    case Part::LcdRs: m_lcd.setRs(high, now); break;
    case Part::LcdE: {
        const std::uint64_t before = m_lcd.enableStrobes();
        m_lcd.setE(high, now);
        if (m_lcd.enableStrobes() != before && onLcdStrobe)
            onLcdStrobe();
        break;
    }
    case Part::LcdD4:
    case Part::LcdD5:
    case Part::LcdD6:
    case Part::LcdD7: {
        const int bit = static_cast<int>(part) - static_cast<int>(Part::LcdD4);
        m_lcdData = static_cast<std::uint8_t>(high ? m_lcdData | 1U << bit : m_lcdData & ~(1U << bit));
        m_lcd.setData(m_lcdData, now);
        break;
    }
    case Part::Strobe:
        if (high != m_strobe && onStrobe)
            onStrobe(high, m_board.cycle());
        m_strobe = high;
        break;
    }
}

void BoardWiring::onPin(avr_irq_t*, std::uint32_t value, void* param)
{
    const auto* wire = static_cast<Wire*>(param);
    wire->wiring->pin(wire->part, value != 0);
}

}  // namespace lumora::sim
