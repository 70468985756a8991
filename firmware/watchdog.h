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
// time-out, 16 ms: the start-up clears it before anything else runs. It
// also puts back what a restart from the reset vector would find as the
// derailed program left it and the firmware does not set itself: every
// interrupt source off, all pins inputs without pull-ups, no power saving,
// timers running, the clock undivided, the interrupt vectors in front.
#pragma once

#include <stdint.h>

namespace watchdog {

// Well inside the chip's watchdog time-out: 1 s typical at 5 V, its
// oscillator drifting with supply and temperature.
constexpr uint16_t kSoftLimitMs = 500;

// Arms both. Call once the firmware is set up.
void start();
// Once per pass of the main loop, and in any loop that waits.
void feed();
// From the millisecond interrupt.
void tick();

}  // namespace watchdog
