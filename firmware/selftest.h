// SPDX-License-Identifier: GPL-3.0-or-later
// The self-test: with a jumper from D2 to ground at power-up, the display
// lights lamp 1 of every group of chip 1, then lamp 2, up to lamp 8, then
// the same for chips 2 to 8, kStepMs each, then all 512 lamps for
// kAllLitMs; the LCD names each step. Only at power-up: a reset (the one
// opening the port causes, a watchdog's) keeps a mark in memory that tells
// it from one.
#pragma once

#include <stdint.h>

namespace selftest {

constexpr uint16_t kStepMs = 80;
constexpr uint16_t kAllLitMs = 1000;

// Whether the jumper holds its pin low after a power-up. Call once, early.
bool wanted();
// Runs the test; lamps and LCD must be set up, the clock running.
void run();

}  // namespace selftest
