// SPDX-License-Identifier: GPL-3.0-or-later
// A model of the display's 20x2 character LCD: an HD44780-compatible
// controller as its datasheet describes it, seen from the pins the board
// wires (RS, E, DB4..DB7; R/W on ground, DB0..DB3 unconnected).
//
// What it models, because a glitch can leave the module in any of it:
//   - the interface: 8-bit at power-on, where DB0..DB3 read as 1 through
//     the controller's own pull-ups, or 4-bit, high nibble first, with the
//     nibble phase that a stray E edge puts one half out of step;
//   - every instruction: clear, return home, entry mode (increment or
//     decrement, display shift on write), display on/off with cursor and
//     blink, cursor or display shift, function set (interface, lines,
//     font), CGRAM and DDRAM address;
//   - DDRAM as the datasheet maps it: 0x00..0x27 and 0x40..0x67 in 2-line
//     mode, 0x00..0x4F in 1-line mode, with the address counter wrapping
//     between them;
//   - the busy time of a slow module (190 kHz oscillator: 52.6 us for an
//     instruction, 60.5 us for a character with its address update, 2.16 ms
//     for clear and return home, 10 ms after power-on): an instruction that
//     completes while the last one still executes is lost, and counted;
//   - the interface timing: E high at least 450 ns, an enable cycle of at
//     least 1000 ns, RS set 140 ns before E rises and data 195 ns before it
//     falls; a shorter one is counted.
//
// glass() reads what the glass shows: the 20 visible columns of each line
// through the display shift, blank when the display is off or the module
// unpowered, the second line blank in 1-line mode.
//
// Times are nanoseconds of simulated time, never decreasing. Plain C++ on
// one thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace lumora::sim {

class Hd44780 {
public:
    using Nanoseconds = std::uint64_t;
    static constexpr int kColumns = 20;
    static constexpr int kLines = 2;

    // A slow module: a 190 kHz oscillator instead of the nominal 270 kHz.
    static constexpr Nanoseconds kInstructionTime = 52'600;
    static constexpr Nanoseconds kAddressUpdate = 7'900;  // after a character, 1.5 oscillator cycles
    static constexpr Nanoseconds kClearTime = 2'160'000;
    static constexpr Nanoseconds kPowerOnBusy = 10'000'000;
    // The write cycle's limits at 5 V.
    static constexpr Nanoseconds kMinEnableHigh = 450;
    static constexpr Nanoseconds kMinEnableCycle = 1000;
    static constexpr Nanoseconds kMinRsSetup = 140;
    static constexpr Nanoseconds kMinDataSetup = 195;

    struct Counts {
        std::uint64_t instructions = 0;  // executed, characters included
        std::uint64_t lostWhileBusy = 0;
        std::uint64_t timingViolations = 0;
    };

    // Powered from the start, as after power-on at time 0.
    Hd44780();

    // Power goes (inputs ignored, glass dark) or comes back: the internal
    // reset then clears the display, selects the 8-bit interface, 1 line,
    // display off, entry increment, and keeps the module busy 10 ms.
    void powerOff();
    void powerOn(Nanoseconds now);
    bool powered() const { return m_powered; }

    // The levels the board drives. DB4..DB7 as bits 0..3 of `nibble`.
    void setRs(bool high, Nanoseconds now);
    void setData(std::uint8_t nibble, Nanoseconds now);
    // E: the module takes what RS and DB4..DB7 hold on a falling edge.
    void setE(bool high, Nanoseconds now);

    // Faults: one E pulse from nothing the board did (noise, a loose
    // wire), and a controller that falls back to its 8-bit interface
    // without losing what it shows (a dip below its reset threshold).
    void strayPulse(Nanoseconds now);
    void fallBackTo8Bit();

    struct Glass {
        std::array<std::string, kLines> lines;  // kColumns each; ' ' where dark, '?' for no ASCII glyph
        bool cursorShown = false;               // an underline or blinking block on a visible cell
    };
    Glass glass() const;

    // Whether it is in 4-bit mode waiting for the low nibble of a byte.
    bool betweenNibbles() const { return m_fourBit && m_haveHighNibble; }
    // Falling E edges that the board made, the stray ones excluded.
    std::uint64_t enableStrobes() const { return m_enableStrobes; }
    const Counts& counts() const { return m_counts; }

private:
    void latch(Nanoseconds now);
    void execute(std::uint8_t value, bool data, Nanoseconds now);
    void instruction(std::uint8_t value);
    void writeData(std::uint8_t value);
    void stepAddress(bool increment);
    void shiftDisplay(bool left);
    int visibleAddress(int line, int column) const;

    bool m_powered = true;
    bool m_rs = false;
    std::uint8_t m_nibble = 0;
    bool m_e = false;
    Nanoseconds m_rsChanged = 0;
    Nanoseconds m_dataChanged = 0;
    Nanoseconds m_eRose = 0;
    Nanoseconds m_lastERise = 0;
    bool m_everRose = false;

    bool m_fourBit = false;
    bool m_haveHighNibble = false;
    std::uint8_t m_highNibble = 0;
    bool m_twoLines = false;
    bool m_displayOn = false;
    bool m_cursorOn = false;
    bool m_blinkOn = false;
    bool m_increment = true;
    bool m_shiftOnWrite = false;
    bool m_inCgram = false;      // the address counter points into CGRAM
    std::uint8_t m_address = 0;  // DDRAM or CGRAM address counter
    int m_shift = 0;             // display shift, 0 .. one line's length - 1
    std::array<std::uint8_t, 128> m_ddram{};
    std::array<std::uint8_t, 64> m_cgramData{};
    Nanoseconds m_busyUntil = 0;
    std::uint64_t m_enableStrobes = 0;
    Counts m_counts;
};

}  // namespace lumora::sim
