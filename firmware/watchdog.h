// SPDX-License-Identifier: GPL-3.0-or-later
// Two watchdogs, fed once per pass of the main loop, so that a main loop
// that stops dead (a CPU derailed by a supply sag between the 2.7 V
// brown-out level and the 3.8 V that 16 MHz needs, or a fault of ours)
// starts again:
//   - the millisecond interrupt counts the time since the last feed, and
//     after kSoftLimitMs starts the firmware again from its reset vector,
//     without a reset of the chip, so that no bootloader runs: the old Nano
//     bootloader never clears a watchdog reset and would restart itself for
//     ever;
//   - should interrupts be off as well, the chip's watchdog resets it after
//     kHardLimit. Optiboot (Uno, newer Nano) then starts the firmware at
//     once; the old Nano bootloader loops until the power is switched off.
//
// A watchdog reset leaves the chip's watchdog running at its shortest
// time-out, 16 ms: the start-up clears it before anything else runs, and
// also switches off every interrupt, since a restart from the reset vector
// finds the peripherals as the derailed program left them.
#pragma once

#include <stdint.h>

namespace watchdog {

constexpr uint16_t kSoftLimitMs = 500;
// The chip's watchdog time-out: 1 s nominal, its oscillator varies with the
// supply and temperature (0.9 to 1.2 s).

// Arms both. Call once the firmware is set up.
void start();
// Once per pass of the main loop, and in any loop that waits.
void feed();
// From the millisecond interrupt.
void tick();

// MCUSR as the chip last started (power-on, reset pin, brown-out,
// watchdog); a start by the software watchdog keeps the flags of the
// start before it.
uint8_t resetFlags();

}  // namespace watchdog
