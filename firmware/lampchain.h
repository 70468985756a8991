// SPDX-License-Identifier: GPL-3.0-or-later
// The eight daisy-chained MAX7219 LED drivers that light the 512 lamps.
//
// Chip r (1..8, counted from the controller along the chain) drives row r,
// spectrum band r - 1; its digit c - 1 (DIG0..DIG7) drives lamp group c of
// the row. A lamp byte goes into its digit register as it is (no-decode
// mode): bit k lights lamp k + 1, so lamp 1 is wired to segment line G
// (bit 0) and lamp 8 to DP (bit 7).
//
// Every write sends one 16-bit word (register address, value) to each chip,
// the farthest chip's word first, and latches all eight at once on LOAD's
// rising edge: a whole frame is eight such writes, 1024 bits.
#pragma once

#include <stdint.h>

namespace lampchain {

constexpr uint8_t kChips = 8;
constexpr uint8_t kDigits = 8;

// Brightness 0..15: each digit is lit (2 * kIntensity + 1) / 32 of its scan
// time, 15/32 here.
constexpr uint8_t kIntensity = 7;

// Sets up the three pins and darkens every digit. Call first: the digit
// registers hold random values after power-up, unseen while the chips are
// still shut down.
void begin();
// Writes every configuration register (display test off, no decoding,
// all eight digits scanned, intensity, out of shutdown) to every chip.
void configure();
// The 64 lamp bytes in wire order: row 1 column 1 first. They are kept as
// the picture that heal() writes again.
void show(const uint8_t* lampBytes);
// The picture goes dark.
void darken();
// Writes the picture, then the configuration, to every chip again: a chip
// that a glitch or a late power-up reset (shut down, its digit registers
// random) shows the right lamps again, and never random ones in between.
// About 1.3 ms.
void heal();

}  // namespace lampchain
