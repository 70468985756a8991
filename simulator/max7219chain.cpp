// SPDX-License-Identifier: GPL-3.0-or-later
#include "max7219chain.h"

namespace lumora::sim {
namespace {

constexpr std::uint8_t kRegisterNoOp = 0x0;
constexpr std::uint8_t kRegisterDigit0 = 0x1;
constexpr std::uint8_t kRegisterDigit7 = 0x8;
constexpr std::uint8_t kRegisterDecodeMode = 0x9;
constexpr std::uint8_t kRegisterIntensity = 0xA;
constexpr std::uint8_t kRegisterScanLimit = 0xB;
constexpr std::uint8_t kRegisterShutdown = 0xC;
constexpr std::uint8_t kRegisterDisplayTest = 0xF;

// Code B font, segments DP A B C D E F G as bits 7..0; D7 of the digit
// register drives DP.
constexpr std::array<std::uint8_t, 16> kCodeB = {
    0x7E, 0x30, 0x6D, 0x79, 0x33, 0x5B, 0x5F, 0x70,  // 0..7
    0x7F, 0x7B, 0x01, 0x4F, 0x37, 0x0E, 0x67, 0x00,  // 8, 9, -, E, H, L, P, blank
};

}  // namespace

Max7219Chain::Max7219Chain(int chips) : m_chips(static_cast<std::size_t>(chips))
{
    powerUp();
}

void Max7219Chain::powerUp()
{
    for (Chip& chip : m_chips) {
        chip = Chip{};
        chip.digits.fill(kPowerUpDigit);
    }
}

void Max7219Chain::setClk(bool level)
{
    const bool rising = level && !m_clk;
    m_clk = level;
    if (!rising)
        return;
    bool in = m_din;
    for (Chip& chip : m_chips) {
        const bool out = (chip.shift & 0x8000) != 0;
        chip.shift = static_cast<std::uint16_t>((chip.shift << 1) | (in ? 1 : 0));
        in = out;
    }
}

void Max7219Chain::setLoad(bool level)
{
    const bool rising = level && !m_load;
    m_load = level;
    if (!rising)
        return;
    for (Chip& chip : m_chips) {
        const std::uint8_t address = (chip.shift >> 8) & 0x0F;
        const std::uint8_t value = chip.shift & 0xFF;
        if (address >= kRegisterDigit0 && address <= kRegisterDigit7)
            chip.digits[address - kRegisterDigit0] = value;
        else if (address == kRegisterDecodeMode)
            chip.decodeMode = value;
        else if (address == kRegisterIntensity)
            chip.intensity = value & 0x0F;
        else if (address == kRegisterScanLimit)
            chip.scanLimit = value & 0x07;
        else if (address == kRegisterShutdown)
            chip.running = (value & 1) != 0;
        else if (address == kRegisterDisplayTest)
            chip.displayTest = (value & 1) != 0;
        else
            static_cast<void>(kRegisterNoOp);  // no-op, and 0xD/0xE do nothing
    }
}

std::uint8_t Max7219Chain::litSegments(int index, int digit) const
{
    const Chip& chip = m_chips[static_cast<std::size_t>(index)];
    if (chip.displayTest)
        return 0xFF;
    if (!chip.running || digit > chip.scanLimit)
        return 0;
    const std::uint8_t value = chip.digits[static_cast<std::size_t>(digit)];
    if ((chip.decodeMode >> digit) & 1)
        return static_cast<std::uint8_t>((value & 0x80) | kCodeB[value & 0x0F]);
    return value;
}

}  // namespace lumora::sim
