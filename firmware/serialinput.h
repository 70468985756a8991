// SPDX-License-Identifier: GPL-3.0-or-later
// Reception on the serial line (USART0, 57600 8N1) into a ring buffer.
//
// The RX interrupt takes the byte and bumps the write index, nothing else;
// the main loop takes the bytes out. The ring holds kRingBytes, 44 ms of a
// line that runs flat out (5760 bytes/s), so the main loop may be busy for
// that long without a byte lost.
//
// A byte is lost when the ring is full (the main loop fell behind) or when
// the USART reports a data overrun (the interrupt came too late, which only
// a handler blocking interrupts for over two byte times could cause); both
// are counted. Framing errors (a wrong baud rate, noise) are counted apart,
// and their bytes kept: the decoder judges them.
#pragma once

#include <stdint.h>

namespace serialinput {

constexpr uint16_t kRingBytes = 256;  // a uint8_t index wraps by itself

// Enables the receiver and its interrupt; bytes from before are dropped.
void begin();
// Takes the oldest byte; false when none is waiting.
bool take(uint8_t& byte);
bool empty();

// Counters since begin(), saturating at their maximum.
uint16_t lostBytes();  // ring full or data overrun
uint16_t framingErrors();

}  // namespace serialinput
