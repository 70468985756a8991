// SPDX-License-Identifier: GPL-3.0-or-later
// The display's board: an ATmega328P at 16 MHz (Arduino Uno or Nano), and
// every pin and register the firmware uses, named once, here, beside the
// wiring they stand for.
//
//   signal            board pin  port  wired to
//   ----------------  ---------  ----  -------------------------------------
//   serial in (RX)    D0         PD0   the USB-serial chip (on the board)
//   MAX7219 DIN       D11        PB3   DIN of chip 1 (row 1, band 0); each
//                                      chip's DOUT goes to the next one's DIN
//   MAX7219 CLK       D13        PB5   CLK of all eight chips
//   MAX7219 LOAD      D10        PB2   LOAD (CS) of all eight chips
//   LCD RS            D8         PB0   HD44780 pin 4
//   LCD E             D9         PB1   HD44780 pin 6
//   LCD D4..D7        D4..D7     PD4..PD7  HD44780 pins 11..14
//   LCD R/W           -          -     HD44780 pin 5 to ground
//   update strobe     A0         PC0   optional activity LED (high while a
//                                      received cycle is being shown)
//   self-test         D2         PD2   optional jumper or push button to
//                                      GND: held at power-up, the display
//                                      tests its lamps and LCD
//
// The MAX7219 chain is driven by bit-banging the three pins (one clock per
// bit, data taken on CLK's rising edge, latched on LOAD's rising edge): the
// pins are those of the hardware SPI, so hardware SPI stays possible.
#pragma once

#include "cycleformat.h"

#include <avr/io.h>
#include <stdint.h>

namespace board {

constexpr uint32_t kClockHz = 16000000UL;

// Lamp chain: port B.
#define LAMP_PORT PORTB
#define LAMP_DDR DDRB
constexpr uint8_t kLampDin = _BV(PB3);
constexpr uint8_t kLampClk = _BV(PB5);
constexpr uint8_t kLampLoad = _BV(PB2);

// LCD: control lines on port B, the data nibble on the high half of port D.
#define LCD_CONTROL_PORT PORTB
#define LCD_CONTROL_DDR DDRB
#define LCD_DATA_PORT PORTD
#define LCD_DATA_DDR DDRD
constexpr uint8_t kLcdRs = _BV(PB0);
constexpr uint8_t kLcdE = _BV(PB1);
constexpr uint8_t kLcdDataShift = 4;  // D4 on PD4
constexpr uint8_t kLcdDataMask = 0xF0;

// Update strobe: port C.
#define STROBE_PORT PORTC
#define STROBE_DDR DDRC
constexpr uint8_t kStrobe = _BV(PC0);

// Self-test jumper: port D, an input with the internal pull-up; low when
// the jumper or button connects it to GND.
#define SELFTEST_PORT PORTD
#define SELFTEST_PIN PIND
constexpr uint8_t kSelfTest = _BV(PD2);

// Serial line: USART0 at 57600 baud, 8N1. With U2X0 (double speed) the
// divider 34 gives 16 MHz / (8 * 35) = 57143 baud, 0.8 % slow; without it
// the nearest divider (16) gives 58824 baud, 2.1 % fast, which leaves the
// receiver too little margin against a sender that is itself off.
constexpr uint16_t kUbrr = 34;
static_assert(kClockHz / (8UL * (kUbrr + 1)) > static_cast<uint32_t>(lumora::wire::kBaudRate) * 99 / 100,
              "baud too far off");

// Time base. Timer0 ticks every millisecond (CTC, clk/64, 250 counts);
// timer2 (CTC, clk/8, one-shot) times the LCD's execution waits.
constexpr uint8_t kTimer0Top = 249;

}  // namespace board
