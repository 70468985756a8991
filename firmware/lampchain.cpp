// SPDX-License-Identifier: GPL-3.0-or-later
#include "lampchain.h"

#include "board.h"

namespace lampchain {
namespace {

// MAX7219 register addresses.
constexpr uint8_t kRegisterDigit0 = 0x01;  // digits 0..7 at 0x01..0x08
constexpr uint8_t kRegisterDecodeMode = 0x09;
constexpr uint8_t kRegisterIntensity = 0x0A;
constexpr uint8_t kRegisterScanLimit = 0x0B;
constexpr uint8_t kRegisterShutdown = 0x0C;
constexpr uint8_t kRegisterDisplayTest = 0x0F;

constexpr uint8_t kNoDecode = 0x00;
constexpr uint8_t kScanAllDigits = 0x07;
constexpr uint8_t kNormalOperation = 0x01;  // shutdown register: running
constexpr uint8_t kTestOff = 0x00;

// What the lamps show, in wire order.
uint8_t g_picture[kChips * kDigits];

// MSB first; the chip takes DIN on CLK's rising edge (at most 10 MHz: each
// port write takes 125 ns at 16 MHz, so no extra wait is needed).
inline void shiftByte(uint8_t value)
{
    for (uint8_t bit = 0; bit < 8; ++bit) {
        if (value & 0x80)
            LAMP_PORT |= board::kLampDin;
        else
            LAMP_PORT &= static_cast<uint8_t>(~board::kLampDin);
        LAMP_PORT |= board::kLampClk;
        LAMP_PORT &= static_cast<uint8_t>(~board::kLampClk);
        value = static_cast<uint8_t>(value << 1);
    }
}

// values[r] goes to register `address` of chip r + 1.
void writeAll(uint8_t address, const uint8_t* values, uint8_t stride)
{
    LAMP_PORT &= static_cast<uint8_t>(~board::kLampLoad);
    for (uint8_t chip = kChips; chip-- > 0;) {
        shiftByte(address);
        shiftByte(values[chip * stride]);
    }
    LAMP_PORT |= board::kLampLoad;
}

void writeSame(uint8_t address, uint8_t value)
{
    writeAll(address, &value, 0);
}

}  // namespace

void begin()
{
    LAMP_PORT |= board::kLampLoad;
    LAMP_PORT &= static_cast<uint8_t>(~(board::kLampDin | board::kLampClk));
    LAMP_DDR |= board::kLampDin | board::kLampClk | board::kLampLoad;
    darken();
}

void configure()
{
    writeSame(kRegisterDisplayTest, kTestOff);
    writeSame(kRegisterDecodeMode, kNoDecode);
    writeSame(kRegisterScanLimit, kScanAllDigits);
    writeSame(kRegisterIntensity, kIntensity);
    writeSame(kRegisterShutdown, kNormalOperation);
}

void show(const uint8_t* lampBytes)
{
    for (uint8_t i = 0; i < kChips * kDigits; ++i)
        g_picture[i] = lampBytes[i];
    for (uint8_t digit = 0; digit < kDigits; ++digit)
        writeAll(static_cast<uint8_t>(kRegisterDigit0 + digit), g_picture + digit, kDigits);
}

void darken()
{
    for (uint8_t i = 0; i < kChips * kDigits; ++i)
        g_picture[i] = 0;
    for (uint8_t digit = 0; digit < kDigits; ++digit)
        writeSame(static_cast<uint8_t>(kRegisterDigit0 + digit), 0);
}

void heal()
{
    for (uint8_t digit = 0; digit < kDigits; ++digit)
        writeAll(static_cast<uint8_t>(kRegisterDigit0 + digit), g_picture + digit, kDigits);
    configure();
}

}  // namespace lampchain
