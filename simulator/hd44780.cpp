// SPDX-License-Identifier: GPL-3.0-or-later
#include "hd44780.h"

#include "cycleformat.h"

namespace lumora::sim {

namespace {

constexpr std::uint8_t kBlank = 0x20;
constexpr int kLineLength2 = 40;  // DDRAM cells per line in 2-line mode
constexpr int kLineLength1 = 80;  // in 1-line mode
constexpr int kSecondLine = 0x40;

}  // namespace

Hd44780::Hd44780()
{
    powerOn(0);
    m_busyUntil = 0;  // powered long before the board starts
}

void Hd44780::powerOff()
{
    m_powered = false;
}

void Hd44780::powerOn(Nanoseconds now)
{
    m_powered = true;
    m_fourBit = false;
    m_haveHighNibble = false;
    m_twoLines = false;
    m_displayOn = false;
    m_cursorOn = false;
    m_blinkOn = false;
    m_increment = true;
    m_shiftOnWrite = false;
    m_inCgram = false;
    m_address = 0;
    m_shift = 0;
    m_ddram.fill(kBlank);
    m_busyUntil = now + kPowerOnBusy;
}

void Hd44780::setRs(bool high, Nanoseconds now)
{
    if (high != m_rs)
        m_rsChanged = now;
    m_rs = high;
}

void Hd44780::setData(std::uint8_t nibble, Nanoseconds now)
{
    nibble &= 0x0F;
    if (nibble != m_nibble)
        m_dataChanged = now;
    m_nibble = nibble;
}

void Hd44780::setE(bool high, Nanoseconds now)
{
    if (high == m_e)
        return;
    m_e = high;
    if (!m_powered)
        return;
    if (high) {
        if ((m_everRose && now - m_lastERise < kMinEnableCycle) || now - m_rsChanged < kMinRsSetup)
            ++m_counts.timingViolations;
        m_everRose = true;
        m_lastERise = now;
        m_eRose = now;
        return;
    }
    if (now - m_eRose < kMinEnableHigh || now - m_dataChanged < kMinDataSetup)
        ++m_counts.timingViolations;
    ++m_enableStrobes;
    latch(now);
}

void Hd44780::strayPulse(Nanoseconds now)
{
    if (m_powered)
        latch(now);
}

void Hd44780::fallBackTo8Bit()
{
    m_fourBit = false;
    m_haveHighNibble = false;
}

// What RS and DB4..DB7 hold when E falls: a whole byte in 8-bit mode (DB0..
// DB3 pulled up), half of one in 4-bit mode.
void Hd44780::latch(Nanoseconds now)
{
    if (!m_fourBit) {
        execute(static_cast<std::uint8_t>(m_nibble << 4 | 0x0F), m_rs, now);
        return;
    }
    if (!m_haveHighNibble) {
        m_highNibble = m_nibble;
        m_haveHighNibble = true;
        return;
    }
    m_haveHighNibble = false;
    execute(static_cast<std::uint8_t>(m_highNibble << 4 | m_nibble), m_rs, now);
}

void Hd44780::execute(std::uint8_t value, bool data, Nanoseconds now)
{
    if (now < m_busyUntil) {
        ++m_counts.lostWhileBusy;
        return;
    }
    ++m_counts.instructions;
    const bool clearOrHome = !data && (value == 0x01 || (value & 0xFE) == 0x02);
    m_busyUntil = now + (clearOrHome ? kClearTime : data ? kInstructionTime + kAddressUpdate : kInstructionTime);
    if (data)
        writeData(value);
    else
        instruction(value);
}

void Hd44780::instruction(std::uint8_t value)
{
    if (value & 0x80) {  // set DDRAM address
        m_inCgram = false;
        m_address = value & 0x7F;
    } else if (value & 0x40) {  // set CGRAM address
        m_inCgram = true;
        m_address = value & 0x3F;
    } else if (value & 0x20) {  // function set
        m_fourBit = (value & 0x10) == 0;
        m_haveHighNibble = false;
        m_twoLines = (value & 0x08) != 0;
    } else if (value & 0x10) {  // cursor or display shift
        const bool right = (value & 0x04) != 0;
        if (value & 0x08)
            shiftDisplay(!right);
        else
            stepAddress(right);
    } else if (value & 0x08) {  // display on/off control
        m_displayOn = (value & 0x04) != 0;
        m_cursorOn = (value & 0x02) != 0;
        m_blinkOn = (value & 0x01) != 0;
    } else if (value & 0x04) {  // entry mode set
        m_increment = (value & 0x02) != 0;
        m_shiftOnWrite = (value & 0x01) != 0;
    } else if (value & 0x02) {  // return home
        m_inCgram = false;
        m_address = 0;
        m_shift = 0;
    } else if (value & 0x01) {  // clear display
        m_ddram.fill(kBlank);
        m_inCgram = false;
        m_address = 0;
        m_shift = 0;
        m_increment = true;
    }
}

void Hd44780::writeData(std::uint8_t value)
{
    if (m_inCgram) {
        m_cgramData[m_address & 0x3F] = value;
        m_address = static_cast<std::uint8_t>((m_address + (m_increment ? 1 : -1)) & 0x3F);
        return;
    }
    m_ddram[m_address & 0x7F] = value;
    stepAddress(m_increment);
    if (m_shiftOnWrite)
        shiftDisplay(m_increment);
}

// The DDRAM address counter moves one cell, wrapping as the datasheet
// lays the lines out.
void Hd44780::stepAddress(bool increment)
{
    if (m_inCgram) {
        m_address = static_cast<std::uint8_t>((m_address + (increment ? 1 : -1)) & 0x3F);
        return;
    }
    int a = m_address;
    if (!m_twoLines) {
        a = increment ? (a >= kLineLength1 - 1 ? 0 : a + 1) : (a == 0 ? kLineLength1 - 1 : a - 1);
    } else if (increment) {
        a = a == kLineLength2 - 1 ? kSecondLine : a == kSecondLine + kLineLength2 - 1 ? 0 : a + 1;
    } else {
        a = a == 0 ? kSecondLine + kLineLength2 - 1 : a == kSecondLine ? kLineLength2 - 1 : a - 1;
    }
    m_address = static_cast<std::uint8_t>(a & 0x7F);
}

// Left moves the text left: column 0 then shows the next cell.
void Hd44780::shiftDisplay(bool left)
{
    const int length = m_twoLines ? kLineLength2 : kLineLength1;
    m_shift = (m_shift + (left ? 1 : length - 1)) % length;
}

int Hd44780::visibleAddress(int line, int column) const
{
    if (!m_twoLines)
        return (column + m_shift) % kLineLength1;
    return line * kSecondLine + (column + m_shift) % kLineLength2;
}

Hd44780::Glass Hd44780::glass() const
{
    Glass glass;
    for (int line = 0; line < kLines; ++line) {
        std::string text(kColumns, ' ');
        const bool lit = m_powered && m_displayOn && (m_twoLines || line == 0);
        for (int column = 0; lit && column < kColumns; ++column) {
            const int address = visibleAddress(line, column);
            const std::uint8_t c = m_ddram[static_cast<std::size_t>(address)];
            text[static_cast<std::size_t>(column)] = wire::isTextByte(c) ? static_cast<char>(c) : '?';
            if ((m_cursorOn || m_blinkOn) && !m_inCgram && address == m_address)
                glass.cursorShown = true;
        }
        glass.lines[static_cast<std::size_t>(line)] = text;
    }
    return glass;
}

}  // namespace lumora::sim
