// SPDX-License-Identifier: GPL-3.0-or-later
// The HD44780-compatible 20x2 character LCD, in 4-bit mode with R/W tied to
// ground: the busy flag cannot be read, so every wait is the datasheet's
// (with margin for slower clones).
//
// The main loop never waits for it. It states the wanted text with
// setLine(); update() then writes at most one character or one cursor move
// per call, and only once the previous one has had its execution time, so
// bringing both lines up to date costs at most 42 short writes spread over
// about 2.3 ms. Only characters that differ from what the LCD shows are
// written.
#pragma once

#include <stdint.h>

namespace textlcd {

constexpr uint8_t kColumns = 20;
constexpr uint8_t kLines = 2;

// The power-on initialisation by instruction: blocks for about 60 ms.
// Leaves the display on, cleared, cursor off, addresses counting up.
void begin();

// The text of line 0 or 1: kColumns characters, no terminator. Bytes
// outside printable ASCII (0x20..0x7E) show as a space, because the LCD's
// character ROM has custom glyphs and other alphabets there.
void setLine(uint8_t line, const char* text);

// Whether what the LCD shows differs from what was set.
bool pending();
// Writes the next differing character if the LCD is ready for it.
void update();
// Whether the last write has had its execution time. Timer2 times it and
// its interrupt, when it comes, is the moment to call update() again.
bool ready();

}  // namespace textlcd
