// SPDX-License-Identifier: GPL-3.0-or-later
#include "textlcd.h"

#include "board.h"

#include <avr/interrupt.h>
#include <util/delay.h>

namespace textlcd {
namespace {

// Instructions.
constexpr uint8_t kClear = 0x01;
constexpr uint8_t kEntryIncrement = 0x06;
constexpr uint8_t kDisplayOnCursorOff = 0x0C;
constexpr uint8_t kDisplayOff = 0x08;
constexpr uint8_t kFunction4Bit2Lines = 0x28;
constexpr uint8_t kSetAddress = 0x80;
constexpr uint8_t kLineAddress[kLines] = {0x00, 0x40};

// Execution times: 37 us for most instructions and data at the nominal
// 270 kHz oscillator, 1.52 ms to clear; clones run slower, hence margins.
constexpr uint16_t kWriteMicroseconds = 50;

char g_wanted[kLines][kColumns];
char g_shown[kLines][kColumns];
// Where the LCD's address counter points: line and column, or kNowhere.
constexpr uint8_t kNowhere = 0xFF;
uint8_t g_cursorLine = kNowhere;
uint8_t g_cursorColumn = 0;
volatile bool g_ready = true;  // the last write has had its execution time
bool g_dirty;  // g_wanted may differ from g_shown

// Timer2 as a one-shot: CTC at clk/8 (0.5 us per count), its compare
// interrupt marks the LCD ready and stops itself.
void startWait()
{
    g_ready = false;
    TCCR2A = _BV(WGM21);
    TCCR2B = _BV(CS21);
    TCNT2 = 0;
    OCR2A = kWriteMicroseconds * 2 - 1;
    TIFR2 = _BV(OCF2A);
    TIMSK2 = _BV(OCIE2A);
}

void pulseEnable()
{
    LCD_CONTROL_PORT |= board::kLcdE;
    _delay_us(1);  // E high at least 450 ns
    LCD_CONTROL_PORT &= static_cast<uint8_t>(~board::kLcdE);
    _delay_us(1);  // enable cycle at least 1 us
}

void writeNibble(uint8_t nibble)
{
    LCD_DATA_PORT = static_cast<uint8_t>((LCD_DATA_PORT & ~board::kLcdDataMask) |
                                         ((nibble << board::kLcdDataShift) & board::kLcdDataMask));
    pulseEnable();
}

void write(uint8_t value, bool data)
{
    if (data)
        LCD_CONTROL_PORT |= board::kLcdRs;
    else
        LCD_CONTROL_PORT &= static_cast<uint8_t>(~board::kLcdRs);
    writeNibble(value >> 4);
    writeNibble(value & 0x0F);
    startWait();
}

void command(uint8_t instruction)
{
    write(instruction, false);
    _delay_us(kWriteMicroseconds);
}

char shownAs(char c)
{
    return (c >= 0x20 && c <= 0x7E) ? c : ' ';
}

}  // namespace

void begin()
{
    LCD_CONTROL_DDR |= board::kLcdRs | board::kLcdE;
    LCD_DATA_DDR |= board::kLcdDataMask;
    LCD_CONTROL_PORT &= static_cast<uint8_t>(~(board::kLcdRs | board::kLcdE));

    // After power-up the controller needs 40 ms; then three times "8-bit
    // interface" reaches a known state whatever mode it was in (also after a
    // reset of the board alone, half-way through a 4-bit transfer).
    _delay_ms(50);
    writeNibble(0x3);
    _delay_us(4500);
    writeNibble(0x3);
    _delay_us(150);
    writeNibble(0x3);
    _delay_us(150);
    writeNibble(0x2);  // now 4-bit
    _delay_us(150);
    command(kFunction4Bit2Lines);
    command(kDisplayOff);
    command(kClear);
    _delay_ms(2);
    command(kEntryIncrement);
    command(kDisplayOnCursorOff);

    for (uint8_t line = 0; line < kLines; ++line) {
        for (uint8_t column = 0; column < kColumns; ++column) {
            g_wanted[line][column] = ' ';
            g_shown[line][column] = ' ';
        }
    }
    g_cursorLine = kNowhere;
}

void setLine(uint8_t line, const char* text)
{
    for (uint8_t column = 0; column < kColumns; ++column) {
        const char c = shownAs(text[column]);
        if (c != g_wanted[line][column]) {
            g_wanted[line][column] = c;
            g_dirty = true;
        }
    }
}

bool pending()
{
    return g_dirty;
}

bool ready()
{
    return g_ready;
}

void update()
{
    if (!g_dirty || !g_ready)
        return;
    // The next difference, starting at the cursor so that a run of changed
    // characters needs a single address write.
    uint8_t line = g_cursorLine == kNowhere ? 0 : g_cursorLine;
    uint8_t column = g_cursorLine == kNowhere ? 0 : g_cursorColumn;
    for (uint8_t checked = 0; checked < kLines * kColumns; ++checked) {
        if (column == kColumns) {
            column = 0;
            line = static_cast<uint8_t>((line + 1) % kLines);
        }
        if (g_wanted[line][column] != g_shown[line][column]) {
            if (line != g_cursorLine || column != g_cursorColumn) {
                write(static_cast<uint8_t>(kSetAddress | (kLineAddress[line] + column)), false);
                g_cursorLine = line;
                g_cursorColumn = column;
                return;
            }
            write(static_cast<uint8_t>(g_wanted[line][column]), true);
            g_shown[line][column] = g_wanted[line][column];
            g_cursorColumn = static_cast<uint8_t>(column + 1);
            return;
        }
        ++column;
    }
    g_dirty = false;
}

}  // namespace textlcd

ISR(TIMER2_COMPA_vect)
{
    TIMSK2 = 0;
    TCCR2B = 0;
    textlcd::g_ready = true;
}
