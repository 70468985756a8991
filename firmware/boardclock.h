// SPDX-License-Identifier: GPL-3.0-or-later
// The display board's clock: the 16 MHz crystal of an Uno or Nano. Plain
// C++14, included by the firmware (board.h) and the simulated board.
#pragma once

#include <stdint.h>

// For avr-libc's delay loops, which need the clock as a macro.
#define LUMORA_BOARD_CLOCK_HZ 16000000UL

namespace board {

constexpr uint32_t kClockHz = LUMORA_BOARD_CLOCK_HZ;

}  // namespace board
