// SPDX-License-Identifier: GPL-3.0-or-later
// Where every signal of the display is wired: the pin table, once, as
// plain constants that the firmware (board.h) and the simulated board
// (lumora-sim) both include.
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
// The MAX7219 pins are those of the hardware SPI, so hardware SPI stays
// possible. Plain C++14, no AVR headers.
#pragma once

#include <stdint.h>

namespace pins {

struct Pin {
    char port;    // 'B', 'C', 'D'
    uint8_t bit;  // 0..7
};

constexpr Pin kSerialIn{'D', 0};
constexpr Pin kLampDin{'B', 3};
constexpr Pin kLampClk{'B', 5};
constexpr Pin kLampLoad{'B', 2};
constexpr Pin kLcdRs{'B', 0};
constexpr Pin kLcdE{'B', 1};
constexpr Pin kLcdD4{'D', 4};  // D5, D6, D7 follow on the next bits
constexpr Pin kStrobe{'C', 0};
constexpr Pin kSelfTest{'D', 2};

}  // namespace pins
