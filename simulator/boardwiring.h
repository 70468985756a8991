// SPDX-License-Identifier: GPL-3.0-or-later
// The wires between the chip's pins and the display's parts, as
// firmware/pins.h lays them out: the MAX7219 chain's DIN, CLK and LOAD,
// the LCD's RS, E and DB4..DB7, the update strobe on A0 and the self-test
// jumper on D2.
//
// While the chip is in reset its pins let go, and the board's resistors
// take over: the pull-up holds LOAD high and the pull-down holds E low.
// An edge that gives the parts is an edge they take (a latch of the chain,
// a strobe of the LCD), as on the real board.
//
// Runs on the simulation's thread, from simavr's pin callbacks.
#pragma once

#include "avrboard.h"
#include "hd44780.h"
#include "max7219chain.h"

#include <array>
#include <cstdint>
#include <functional>

namespace lumora::sim {

class BoardWiring {
public:
    BoardWiring(AvrBoard& board, Max7219Chain& chain, Hd44780& lcd);
    BoardWiring(const BoardWiring&) = delete;
    BoardWiring& operator=(const BoardWiring&) = delete;

    // The jumper holds D2 to ground; without it the pin is pulled high.
    void setSelfTestJumper(bool fitted);

    // The strobe's edges, at the cycle they came.
    std::function<void(bool high, std::uint64_t cycle)> onStrobe;
    // After each falling E edge the firmware made.
    std::function<void()> onLcdStrobe;

    // The simulated time in the LCD's units.
    static Hd44780::Nanoseconds nanoseconds(std::uint64_t cycle) { return cycle * 1000 / (kClockHz / 1'000'000); }

private:
    enum class Part { LampDin, LampClk, LampLoad, LcdRs, LcdE, LcdD4, LcdD5, LcdD6, LcdD7, Strobe };
    struct Wire {
        BoardWiring* wiring;
        Part part;
    };

    void applySelfTestJumper();
    void pin(Part part, bool high);
    void lettingGo();
    static void onPin(avr_irq_t*, std::uint32_t value, void* param);

    AvrBoard& m_board;
    Max7219Chain& m_chain;
    Hd44780& m_lcd;
    std::array<Wire, 10> m_wires{};
    std::uint8_t m_lcdData = 0;  // DB7..DB4 as bits 3..0
    bool m_strobe = false;
    bool m_selfTestJumper = false;
};

}  // namespace lumora::sim
