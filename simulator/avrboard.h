// SPDX-License-Identifier: GPL-3.0-or-later
// The display's microcontroller in simavr: an ATmega328P at the board's
// clock, with the firmware image as it would be flashed and, optionally,
// the bootloader an Uno or Nano carries in front of it.
//
// Resets as on the real chip. After any of them the chip is held in reset
// for the start-up time the Arduino fuses select (65 ms), then starts at
// the bootloader (when there is one: the BOOTRST fuse) or at the firmware.
//   - power-on: at load, MCUSR's PORF set;
//   - the reset pin: what a DTR pulse does when a port is opened (EXTRF);
//   - the watchdog: when the program lets it run out (WDRF; the watchdog
//     stays on with its shortest time-out, as the datasheet says).
// Listeners registered with onReset() run after each one, since a reset
// stops every peripheral and every pending event of simavr's.
//
// What a bootloader does to the chip is watched: every page erase or page
// write of its flash (SPM) and every EEPROM write is counted, and the
// moment the program counter first leaves the boot section after a reset
// is the moment the firmware runs.
//
// Not thread-safe; the simulation's thread runs it.
#pragma once

#include "boardclock.h"
#include "pins.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct avr_t;
struct avr_irq_t;

namespace lumora::sim {

constexpr std::uint32_t kClockHz = board::kClockHz;
constexpr std::uint64_t kCyclesPerMillisecond = kClockHz / 1000;

// The bootloaders of the boards the display is built on.
enum class Bootloader {
    None,      // flashed with a programmer, no bootloader: a reset starts the firmware
    Optiboot,  // Uno, and Nano with the "new bootloader": 512 bytes at 0x7E00, 115200 baud
    Old,       // Nano with the old bootloader (most clones): 2 KB at 0x7800, 57600 baud
};
// "none", "optiboot", "old".
const char* bootloaderName(Bootloader bootloader);
bool bootloaderFromName(const std::string& name, Bootloader& bootloader);

enum class ResetCause { PowerOn, ResetPin, Watchdog };

class AvrBoard {
public:
    // The start-up time after a reset: 16K clock cycles and 65 ms, the
    // low fuse 0xFF of Uno and Nano (full-swing crystal, slowly rising power).
    static constexpr std::uint64_t kStartUpCycles = 16384 + 14 + 65 * kCyclesPerMillisecond;

    // Loads the firmware ELF and the bootloader; nullptr and a reason when
    // either cannot be loaded. The chip then powers on.
    static std::unique_ptr<AvrBoard> load(const std::string& firmwareElf, Bootloader bootloader, std::string& error);
    ~AvrBoard();
    AvrBoard(const AvrBoard&) = delete;
    AvrBoard& operator=(const AvrBoard&) = delete;

    // Runs the chip until its cycle counter reaches `cycle`. False once it
    // cannot go on (a crash, or a sleep with interrupts off).
    bool runUntil(std::uint64_t cycle);
    std::uint64_t cycle() const;

    void resetPin();
    void onReset(std::function<void(ResetCause)> listener);
    std::uint64_t resets(ResetCause cause) const { return m_resets[static_cast<int>(cause)]; }

    // Whether the chip is held in reset, and whether the bootloader runs
    // (from a reset until the program counter first leaves its section).
    bool held() const;
    bool inBootloader() const { return m_firmwarePending && m_bootStart != 0; }
    // The cycle the firmware last started at (0: not yet).
    std::uint64_t firmwareStartedAt() const { return m_firmwareStartedAt; }

    struct MemoryWrites {
        std::uint64_t flashPageErases = 0;
        std::uint64_t flashPageWrites = 0;
        std::uint64_t eepromWrites = 0;
    };
    const MemoryWrites& memoryWrites() const { return m_memoryWrites; }
    // Whether the application section still holds the firmware as loaded.
    bool firmwareIntact() const;

    // A fault: the firmware's main loop stops dead, as a CPU derailed by a
    // supply sag may. It is sent into a loop that never ends (the C
    // library's exit), with interrupts still served or, with
    // `interruptsOff`, with them disabled. False when the image has no such
    // loop.
    bool hang(bool interruptsOff);

    // CPU cycles spent asleep, or held in reset, since load.
    std::uint64_t sleptCycles() const { return m_sleptCycles; }
    // The most bytes of stack the firmware has used, interrupts included.
    int deepestStack() const;

    // For the parts wired to the chip.
    avr_t* avr() { return m_avr; }
    avr_irq_t* pinIrq(pins::Pin pin);

private:
    AvrBoard() = default;
    void afterReset(ResetCause cause);
    static void onCoreReset(avr_t* avr);
    static void onSleep(avr_t* avr, std::uint64_t howLong);
    static void onSpmControl(avr_irq_t*, std::uint32_t value, void* param);
    static void onEepromControl(avr_irq_t*, std::uint32_t value, void* param);
    static void onWatchdogControl(avr_irq_t*, std::uint32_t value, void* param);

    avr_t* m_avr = nullptr;
    void (*m_coreReset)(avr_t*) = nullptr;
    std::uint32_t m_bootStart = 0;            // byte address; 0: no bootloader
    std::vector<std::uint8_t> m_application;  // the firmware's flash as loaded
    std::vector<std::function<void(ResetCause)>> m_listeners;
    std::uint64_t m_resets[3] = {};
    bool m_resetByCore = false;
    bool m_resetPinPending = false;
    std::uint64_t m_heldUntil = 0;
    bool m_firmwarePending = false;  // since the last reset
    std::uint64_t m_firmwareStartedAt = 0;
    MemoryWrites m_memoryWrites;
    bool m_eepromMasterEnabled = false;
    std::uint64_t m_sleptCycles = 0;
    std::uint16_t m_lowestStack = 0xFFFF;
};

}  // namespace lumora::sim
