// SPDX-License-Identifier: GPL-3.0-or-later
// The light display's board in simavr: the firmware image as it would be
// flashed, on an ATmega328P at 16 MHz, with its parts wired as on the real
// board (see firmware/board.h): the MAX7219 chain (our own model), the
// HD44780 LCD (simavr's part) and the serial line into the USART.
//
// Bytes for the serial line wait in a queue here and go into the simulated
// USART at its own pace: simavr raises XON while its input fifo has room
// and XOFF when it is full; bytes are pushed only between the two. The
// USART then hands them to the firmware one per byte time.
//
// What a real chip would lose is counted even though simavr's USART never
// loses a byte: a received byte that the firmware's RX interrupt serves
// more than kOverrunBudgetCycles after it became pending (two byte times,
// what the USART's two-byte buffer allows at full line rate) would have
// been overwritten on a real board: a late reception.
//
// simavr's USART takes 11 bit times per byte at the baud rate it derives
// (192.5 us at 57143 baud), where the line takes 10 at 57600 (173.6 us). As
// long as the firmware has set a baud rate within 2 % of the line's, the
// simulated USART is made to take a byte every kCyclesPerLineByte, so that
// the firmware meets the line's real pace.
//
// The firmware raises its update strobe (PC0) while it brings lamps and LCD
// up to date; on its falling edge the display is reported as an Update.
//
// The LCD is checked against the slowest modules: one whose oscillator
// runs at 190 kHz needs 52.6 us for an instruction or a character and
// 2.16 ms to clear or return home. A write that begins sooner is counted
// (lcdWritesWhileBusy): such a module would miss it.
//
// Faults a real board meets can be put in: an LCD powered after the board,
// a stray edge on its E line, lamp drivers that power up again (a glitch on
// the LED supply), a byte received with a framing error; and the self-test
// jumper can be fitted.
//
// Not thread-safe: one thread runs it and reads it.
#pragma once

#include "cycleformat.h"
#include "max7219chain.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct avr_t;
struct avr_irq_t;
struct hd44780_t;

namespace lumora::sim {

constexpr std::uint32_t kClockHz = 16000000;
// The lamps as the wire lays them out: a row per chip, a group per digit.
constexpr int kRows = wire::kRows;
constexpr int kGroups = wire::kColumns;
constexpr int kLampBytes = wire::kLampBytes;
constexpr int kLcdColumns = wire::kTextLength;  // the LCD shows a cycle's text on a line
constexpr int kLcdLines = 2;
// The line's byte time in CPU cycles: 2777 at 57600 baud, 10 bit times.
constexpr std::uint64_t kCyclesPerLineByte = kClockHz / wire::kLineBytesPerSecond;
constexpr std::uint64_t kOverrunBudgetCycles = 2 * kCyclesPerLineByte;

// What the display shows.
struct DisplayState {
    // Row-major, row 1 group 1 first: the lamps lit in each group of eight
    // (bit k = lamp k + 1), as the MAX7219s drive them.
    std::array<std::uint8_t, kLampBytes> lamps{};
    std::array<std::string, kLcdLines> lines;  // kLcdColumns characters each
    bool lcdOn = false;
};

struct Update {
    std::uint64_t sequence = 0;       // 1, 2, ...
    std::uint64_t cycle = 0;          // simulated CPU cycle of the falling strobe
    std::uint64_t latencyCycles = 0;  // last reception before the strobe rose .. its fall
    DisplayState state;
};

struct SimulationCounts {
    std::uint64_t bytesFed = 0;        // into the simulated USART
    std::uint64_t receptions = 0;      // RX interrupts the firmware served
    std::uint64_t lateReceptions = 0;  // of those, later than kOverrunBudgetCycles
    std::uint64_t updates = 0;
    std::uint64_t lcdWritesWhileBusy = 0;  // too soon after the last: the datasheet's wait broken
    std::uint64_t sleptCycles = 0;         // CPU cycles spent asleep
    std::uint64_t latencyCyclesTotal = 0;
    std::uint64_t latencyCyclesMax = 0;
};

class SimulatedDisplay {
public:
    // Loads the firmware ELF; nullptr and a reason when it cannot.
    static std::unique_ptr<SimulatedDisplay> load(const std::string& elfPath, std::string& error);
    ~SimulatedDisplay();
    SimulatedDisplay(const SimulatedDisplay&) = delete;
    SimulatedDisplay& operator=(const SimulatedDisplay&) = delete;

    // What a port open does to an Uno or Nano: DTR pulses the reset pin and
    // the bootloader runs for `bootloaderCycles` before the firmware starts
    // again, in the middle of whatever the line brings. The bootloader
    // takes the bytes that arrive meanwhile, at the line's pace (optiboot
    // leaves for the firmware after a byte that is no command of its; the
    // old Nano bootloader after five): they never reach the firmware. The
    // MAX7219s and the LCD keep what they showed until the firmware
    // starts again.
    void resetBoard(std::uint64_t bootloaderCycles);
    std::uint64_t bytesToBootloader() const { return m_bytesToBootloader; }

    // Bytes for the serial line, in order.
    void send(std::span<const std::uint8_t> bytes);
    std::size_t queuedBytes() const { return m_queue.size(); }

    // Runs the firmware until the CPU cycle counter reaches `cycle`. False
    // once the firmware has stopped (crashed, or slept with interrupts off).
    bool runUntil(std::uint64_t cycle);
    std::uint64_t cycle() const;

    DisplayState state() const;
    const SimulationCounts& counts() const { return m_counts; }

    // The LCD has no power until `cycle`: it ignores its inputs, then
    // starts in its power-on state (8-bit interface, display off).
    void powerLcdAt(std::uint64_t cycle);
    // One pulse on the LCD's E line now, from nothing the firmware did.
    void strayLcdPulse();
    // The MAX7219s power up again now (Max7219Chain::powerUp).
    void powerUpLamps();
    // The firmware's reception number `reception` (1: the first byte it
    // receives after it starts) comes with a framing error.
    void addFramingError(std::uint64_t reception);
    // The self-test jumper holds D2 to ground; without it the pin is high.
    void setSelfTestJumper(bool fitted);

    std::function<void(const Update&)> onUpdate;

private:
    SimulatedDisplay();
    void pushQueued();
    void matchLinePace();
    void applySelfTestJumper();
    void startFirmware();
    void lcdEdge(bool high);
    static void onXon(avr_irq_t*, std::uint32_t, void*);
    static void onXoff(avr_irq_t*, std::uint32_t, void*);
    static void onRxPending(avr_irq_t*, std::uint32_t, void*);
    static void onRxRunning(avr_irq_t*, std::uint32_t, void*);
    static void onPin(avr_irq_t*, std::uint32_t, void*);
    static void onSleep(avr_t*, std::uint64_t);

    avr_t* m_avr = nullptr;
    std::unique_ptr<hd44780_t> m_lcd;
    Max7219Chain m_chain;
    std::deque<std::uint8_t> m_queue;
    avr_irq_t* m_uartInput = nullptr;
    bool m_xon = false;
    std::uint64_t m_rxPendingSince = 0;
    bool m_rxPending = false;
    std::uint64_t m_lastReception = 0;
    std::uint64_t m_strobeRoseAfter = 0;  // m_lastReception when the strobe rose
    bool m_strobe = false;
    bool m_lcdE = false;
    bool m_lcdRs = false;
    std::uint8_t m_lcdData = 0;         // D7..D4 as bits 3..0
    std::uint8_t m_lcdFirstNibble = 0;  // of the 4-bit transfer under way
    std::uint64_t m_lcdBusyUntil = 0;   // cycle: a slow module's execution ends
    std::uint64_t m_lcdPoweredAt = 0;   // cycle
    bool m_lcdPowered = true;
    std::uint64_t m_receptionsSinceStart = 0;
    std::vector<std::uint64_t> m_framingErrors;  // receptions since the start
    bool m_selfTestJumper = false;
    SimulationCounts m_counts;
    void* m_wiring = nullptr;             // the pins' callback contexts
    void* m_uart = nullptr;               // simavr's USART0
    std::uint64_t m_bootloaderFrom = 0;   // cycle
    std::uint64_t m_bootloaderUntil = 0;  // cycle
    std::uint64_t m_bootloaderTook = 0;   // bytes since the reset
    bool m_inBootloader = false;
    bool m_resetting = false;
    std::uint64_t m_bytesToBootloader = 0;
};

}  // namespace lumora::sim
