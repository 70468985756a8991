// SPDX-License-Identifier: GPL-3.0-or-later
// A model of a chain of MAX7219 LED drivers, seen from their three input
// pins, as the simulated firmware drives them.
//
// Each chip has a 16-bit shift register: on a rising edge of CLK every chip
// shifts one bit in, the first chip from DIN and each further chip the bit
// that falls out of the one before it (DOUT). On a rising edge of LOAD
// every chip latches its shift register into the register it addresses
// (bits 11..8; bits 7..0 are the value): digits 0..7 (0x1..0x8), decode
// mode (0x9), intensity (0xA), scan limit (0xB), shutdown (0xC), display
// test (0xF); no-op (0x0) writes nothing.
//
// As after power-up, every chip starts shut down with its control registers
// at 0; the digit registers are undefined then, and the model fills them
// with kPowerUpDigit so that a firmware that never clears them shows it.
//
// Plain C++; whoever owns it calls it from one thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace lumora::sim {

class Max7219Chain {
public:
    static constexpr std::uint8_t kPowerUpDigit = 0xA5;
    static constexpr int kDigits = 8;

    struct Chip {
        std::array<std::uint8_t, kDigits> digits{};
        std::uint8_t decodeMode = 0;
        std::uint8_t intensity = 0;  // kept, but a lamp is lit or dark whatever its brightness
        std::uint8_t scanLimit = 0;
        bool running = false;      // shutdown register bit 0
        bool displayTest = false;  // display test register bit 0
        std::uint16_t shift = 0;
    };

    explicit Max7219Chain(int chips);

    // Every chip as after a power-up: shut down, control registers 0, the
    // digit registers at kPowerUpDigit (a glitch on the LED supply, or a
    // supply switched on after the board).
    void powerUp();

    void setDin(bool level) { m_din = level; }
    void setClk(bool level);
    void setLoad(bool level);

    // The segments lit on digit `digit` of chip `index` (bit 0 = segment G
    // .. bit 7 = DP), after display test, shutdown, scan limit and decoding.
    std::uint8_t litSegments(int index, int digit) const;

private:
    std::vector<Chip> m_chips;
    bool m_din = false;
    bool m_clk = false;
    bool m_load = false;
};

}  // namespace lumora::sim
