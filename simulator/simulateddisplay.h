// SPDX-License-Identifier: GPL-3.0-or-later
// The light display's board in simavr, put together from its parts: the
// chip with the firmware image as it would be flashed and the board's
// bootloader (AvrBoard), the serial line into its USART (SerialReceiver),
// the MAX7219 chain (Max7219Chain) and the 20x2 LCD (Hd44780), wired as
// on the real board (BoardWiring).
//
// The firmware raises its update strobe (A0) while it brings lamps and LCD
// up to date; on the strobe's fall the display is reported as an Update,
// with the time from the last received byte before the strobe rose.
//
// Faults a real board meets can be put in: a reset by DTR, LCD glitches
// (a stray E pulse, a power drop, a fall back to the 8-bit interface, at a
// moment or after a given number of the firmware's E strobes, which picks
// a nibble phase), lamp drivers that power up again, a byte received with
// a framing error, a main loop that hangs; and the self-test jumper can be
// fitted.
//
// Not thread-safe: one thread runs it and reads it.
#pragma once

#include "avrboard.h"
#include "boardwiring.h"
#include "cycleformat.h"
#include "hd44780.h"
#include "max7219chain.h"
#include "serialreceiver.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace lumora::sim {

// The lamps as the wire lays them out: a row per chip, a group per digit.
constexpr int kRows = wire::kRows;
constexpr int kGroups = wire::kColumns;
constexpr int kLampBytes = wire::kLampBytes;
constexpr int kLcdColumns = Hd44780::kColumns;
constexpr int kLcdLines = Hd44780::kLines;
static_assert(kLcdColumns == wire::kTextLength, "the LCD shows a cycle's text on a line");

// What the display shows.
struct DisplayState {
    // Row-major, row 1 group 1 first: the lamps lit in each group of eight
    // (bit k = lamp k + 1), as the MAX7219s drive them.
    std::array<std::uint8_t, kLampBytes> lamps{};
    std::array<std::string, kLcdLines> lines;  // what the glass shows, kLcdColumns characters each
    bool lcdCursor = false;                    // a cursor or blinking cell shows
};

struct Update {
    std::uint64_t sequence = 0;       // 1, 2, ...
    std::uint64_t cycle = 0;          // simulated CPU cycle of the falling strobe
    std::uint64_t latencyCycles = 0;  // last reception before the strobe rose .. its fall
    DisplayState state;
};

enum class LcdGlitch {
    StrayPulse,  // one E pulse from nothing the firmware did
    PowerDrop,   // the LCD's supply drops for 20 ms: it starts as at power-on
    EightBit,    // the controller falls back to its 8-bit interface, keeping its text
};
bool lcdGlitchFromName(const std::string& name, LcdGlitch& glitch);

class SimulatedDisplay {
public:
    static constexpr std::uint64_t kLcdPowerDropCycles = 20 * kCyclesPerMillisecond;

    // Loads the firmware ELF and the bootloader; nullptr and a reason when
    // it cannot. The board powers on.
    static std::unique_ptr<SimulatedDisplay> load(const std::string& elfPath, Bootloader bootloader,
                                                  std::string& error);
    ~SimulatedDisplay();
    SimulatedDisplay(const SimulatedDisplay&) = delete;
    SimulatedDisplay& operator=(const SimulatedDisplay&) = delete;

    // Bytes for the serial line, from now, in order.
    void send(std::span<const std::uint8_t> bytes) { m_receiver.send(bytes); }
    std::size_t queuedBytes() const { return m_receiver.waiting(); }

    // Runs the board until the CPU cycle counter reaches `cycle`. False
    // once the chip cannot go on (crashed, or asleep with interrupts off).
    bool runUntil(std::uint64_t cycle);
    std::uint64_t cycle() const { return m_board->cycle(); }

    DisplayState state() const;
    std::uint64_t updates() const { return m_updates; }
    std::uint64_t latencyCyclesTotal() const { return m_latencyTotal; }
    std::uint64_t latencyCyclesMax() const { return m_latencyMax; }

    AvrBoard& board() { return *m_board; }
    const AvrBoard& board() const { return *m_board; }
    const SerialReceiver& receiver() const { return m_receiver; }
    const Hd44780& lcd() const { return m_lcd; }

    // Faults and fittings.
    void resetByDtr() { m_board->resetPin(); }
    void lcdGlitch(LcdGlitch glitch);
    // The glitch comes right after the firmware's `strobes`-th E strobe
    // from now (0: at once).
    void lcdGlitchAfterStrobes(LcdGlitch glitch, std::uint64_t strobes);
    void lcdPower(bool on);
    void powerUpLamps() { m_chain.powerUp(); }
    void addFramingError(std::uint64_t reception) { m_receiver.addFramingError(reception); }
    void setSelfTestJumper(bool fitted) { m_wiring->setSelfTestJumper(fitted); }
    bool hang(bool interruptsOff) { return m_board->hang(interruptsOff); }

    std::function<void(const Update&)> onUpdate;

private:
    explicit SimulatedDisplay(std::unique_ptr<AvrBoard> board);
    void strobe(bool high, std::uint64_t cycle);
    void lcdStrobed();

    std::unique_ptr<AvrBoard> m_board;
    Max7219Chain m_chain;
    Hd44780 m_lcd;
    SerialReceiver m_receiver;
    std::unique_ptr<BoardWiring> m_wiring;
    std::uint64_t m_updates = 0;
    std::uint64_t m_strobeRoseAfter = 0;  // the last reception when the strobe rose
    std::uint64_t m_latencyTotal = 0;
    std::uint64_t m_latencyMax = 0;
    std::uint64_t m_lcdPowerBackAt = 0;  // a power drop's end (0: none pending)
    struct PendingGlitch {
        LcdGlitch glitch;
        std::uint64_t afterStrobes;  // the LCD's count of the firmware's strobes
    };
    std::optional<PendingGlitch> m_pendingGlitch;
};

}  // namespace lumora::sim
