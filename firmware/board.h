// SPDX-License-Identifier: GPL-3.0-or-later
// The display's board: an ATmega328P at 16 MHz (Arduino Uno or Nano), and
// every register the firmware uses, named once, here, for the pins that
// pins.h wires.
//
// The MAX7219 chain is driven by bit-banging its three pins (one clock per
// bit, data taken on CLK's rising edge, latched on LOAD's rising edge).
#pragma once

#include "boardclock.h"
#include "cycleformat.h"
#include "pins.h"

// avr-libc's delay loops take the clock from F_CPU.
#ifndef F_CPU
#define F_CPU LUMORA_BOARD_CLOCK_HZ
#endif

#include <avr/io.h>
#include <stdint.h>

namespace board {

static_assert(F_CPU == kClockHz, "the build's clock and the board's differ");

// Lamp chain: port B.
#define LAMP_PORT PORTB
#define LAMP_DDR DDRB
constexpr uint8_t kLampDin = _BV(pins::kLampDin.bit);
constexpr uint8_t kLampClk = _BV(pins::kLampClk.bit);
constexpr uint8_t kLampLoad = _BV(pins::kLampLoad.bit);
static_assert(pins::kLampDin.port == 'B' && pins::kLampClk.port == 'B' && pins::kLampLoad.port == 'B',
              "the lamp chain is on port B");

// LCD: control lines on port B, the data nibble on the high half of port D.
#define LCD_CONTROL_PORT PORTB
#define LCD_CONTROL_DDR DDRB
#define LCD_DATA_PORT PORTD
#define LCD_DATA_DDR DDRD
constexpr uint8_t kLcdRs = _BV(pins::kLcdRs.bit);
constexpr uint8_t kLcdE = _BV(pins::kLcdE.bit);
constexpr uint8_t kLcdDataShift = pins::kLcdD4.bit;
constexpr uint8_t kLcdDataMask = static_cast<uint8_t>(0x0F << kLcdDataShift);
static_assert(pins::kLcdRs.port == 'B' && pins::kLcdE.port == 'B' && pins::kLcdD4.port == 'D',
              "the LCD's control lines are on port B, its data on port D");

// Update strobe: port C.
#define STROBE_PORT PORTC
#define STROBE_DDR DDRC
constexpr uint8_t kStrobe = _BV(pins::kStrobe.bit);
static_assert(pins::kStrobe.port == 'C', "the strobe is on port C");

// Self-test jumper: port D, an input with the internal pull-up; low when
// the jumper or button connects it to GND.
#define SELFTEST_PORT PORTD
#define SELFTEST_PIN PIND
constexpr uint8_t kSelfTest = _BV(pins::kSelfTest.bit);
static_assert(pins::kSelfTest.port == 'D', "the self-test jumper is on port D");

// Serial line: USART0 at 57600 baud, 8N1, at normal speed with the divider
// 16: 16 MHz / (16 * 17) = 58824 baud, 2.1 % fast. That is exactly the
// rate an Uno's USB chip (the 16U2 with Arduino's firmware) sends when
// asked for 57600, as Arduino's own serial code and the old bootloader do;
// against an accurate USB adapter (FTDI, CH340) it is within the 4.5 %
// that an 8N1 receiver at normal speed tolerates. Double speed with the
// divider 34 (57143 baud) would be 2.9 % off the Uno's chip, beyond the
// 3.9 % limit of double speed less the sender's own error.
constexpr uint16_t kUbrr = 16;
static_assert(kClockHz / (16UL * (kUbrr + 1)) < static_cast<uint32_t>(lumora::wire::kBaudRate) * 1025 / 1000,
              "baud too far off");

// Time base. Timer0 ticks every millisecond (CTC, clk/64, 250 counts);
// timer2 (CTC, clk/256, one-shot) times the LCD's execution waits.
constexpr uint8_t kTimer0Top = 249;
static_assert(kClockHz / 64 / (kTimer0Top + 1) == 1000, "timer0 ticks every millisecond");

// Starts the millisecond clock (timer0), whose interrupt also ticks the
// watchdog (watchdog.h).
void startClock();
// Milliseconds since startClock(), wrapping after 65.5 s.
uint16_t milliseconds();
// The update strobe on A0: high from the moment a cycle is complete (or
// the board starts) until the lamps and both LCD lines show it.
void strobe(bool high);
// Sleeps until the next interrupt unless a received byte or the LCD's next
// step is waiting.
void sleepUntilNeeded();

}  // namespace board
