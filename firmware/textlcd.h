// SPDX-License-Identifier: GPL-3.0-or-later
// The HD44780-compatible 20x2 character LCD, in 4-bit mode with R/W tied to
// ground: the busy flag cannot be read, so every wait is the datasheet's
// for the slowest modules (an oscillator of 190 kHz instead of 270: 52.6 us
// for most instructions instead of 37, and 8 us more for the address
// counter after a character; 2.16 ms to clear or return home instead of
// 1.52), with margin: 80 us after each write, 5 ms after a clear, 3 ms
// after a return home.
//
// The main loop never waits for it. It states the wanted text with
// setLine(); update() then does at most one step per call (a write, or a
// step of the initialisation), and only once the previous one has had its
// time, which timer2 measures and marks with its interrupt. Only
// characters that differ from what the LCD shows are written: bringing both
// lines up to date costs at most 42 writes, about 3.4 ms.
//
// The LCD heals: heal() leaves the module alone for 3 ms, then runs the
// initialisation by instruction again, which brings a module in any state
// back (one that powered up after the board, missed a write, took a stray E
// edge and now reads every byte half a byte off, or fell back to its 8-bit
// interface), returns home (which undoes a display shift) and writes all
// 40 cells: about 12.5 ms. The caller does so every few seconds and whenever
// the display's state changes, each time once the LCD has nothing else to
// do.
#pragma once

#include <stdint.h>

namespace textlcd {

constexpr uint8_t kColumns = 20;
constexpr uint8_t kLines = 2;

// Sets up the pins and starts the power-on initialisation (a 50 ms wait,
// then the instructions), which update() carries out. Both lines start
// blank.
void begin();
// Starts the initialisation again, without the power-on wait, the display
// switched off or a clear, then writes every cell. Does nothing while one
// is under way.
void heal();

// The text of line 0 or 1: kColumns characters, no terminator. Bytes
// outside printable ASCII (0x20..0x7E) show as a space, because the LCD's
// character ROM has custom glyphs and other alphabets there.
void setLine(uint8_t line, const char* text);

// Whether an initialisation is under way or what the LCD shows differs from
// what was set.
bool pending();
// Does the next step, if the LCD is ready for it.
void update();
// Whether the last step has had its time.
bool ready();

}  // namespace textlcd
