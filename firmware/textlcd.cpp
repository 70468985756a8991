// SPDX-License-Identifier: GPL-3.0-or-later
#include "textlcd.h"

#include "board.h"

#include <avr/interrupt.h>
#include <util/atomic.h>
#include <util/delay.h>

namespace textlcd {
namespace {

// Instructions.
constexpr uint8_t kClear = 0x01;
constexpr uint8_t kReturnHome = 0x02;  // also undoes a display shift
constexpr uint8_t kEntryIncrement = 0x06;
constexpr uint8_t kDisplayOnCursorOff = 0x0C;
constexpr uint8_t kDisplayOff = 0x08;
constexpr uint8_t kFunction4Bit2Lines = 0x28;
constexpr uint8_t kSetAddress = 0x80;
constexpr uint8_t kLineAddress[kLines] = {0x00, 0x40};

// Timer2 counts at clk/256: 16 us per count.
constexpr uint16_t kMicrosecondsPerCount = 256 / (board::kClockHz / 1000000UL);
constexpr uint16_t counts(uint32_t microseconds)
{
    return static_cast<uint16_t>((microseconds + kMicrosecondsPerCount - 1) / kMicrosecondsPerCount);
}

// Waits, each for the slowest module with margin (see textlcd.h).
constexpr uint16_t kWriteWait = counts(80);        // 80 us; 52.6 us at 190 kHz, and the address update
constexpr uint16_t kClearWait = counts(5000);      // 5 ms; 2.16 ms at 190 kHz
constexpr uint16_t kHomeWait = counts(3000);       // 3 ms; 2.16 ms at 190 kHz
constexpr uint16_t kPowerOnWait = counts(50000);   // 50 ms; 40 ms after Vcc reaches 4.5 V
constexpr uint16_t kFirstSyncWait = counts(5000);  // 5 ms; 4.1 ms
constexpr uint16_t kSyncWait = counts(150);        // 160 us; 100 us
// A heal begins with the module left alone for longer than any instruction
// takes, so that its first write cannot find it busy with a clear or return
// home that garbled nibbles made (2.16 ms at 190 kHz); that write may make
// one itself, which the next wait covers.
constexpr uint16_t kHealIdleWait = counts(3000);
constexpr uint16_t kHealFirstSyncWait = counts(2500);

// The initialisation by instruction: three times "8-bit interface" reaches
// a known state from any state (also half-way through a 4-bit transfer),
// then 4-bit mode and the settings. At power-on the display also goes off
// and is cleared; a heal returns home instead (which also undoes a display
// shift) and rewrites all 40 cells, which leaves the text standing.
struct InitStep {
    uint8_t value;
    bool nibbleOnly;  // a single 4-bit transfer, as in 8-bit mode
    uint16_t wait;
};
constexpr uint8_t kNothing = 0xFF;  // a step that only waits
constexpr InitStep kPowerOnInit[] = {
    {0x3, true, kFirstSyncWait},
    {0x3, true, kSyncWait},
    {0x3, true, kSyncWait},
    {0x2, true, kSyncWait},  // from here on 4-bit
    {kFunction4Bit2Lines, false, kWriteWait},
    {kDisplayOff, false, kWriteWait},
    {kClear, false, kClearWait},
    {kEntryIncrement, false, kWriteWait},
    {kDisplayOnCursorOff, false, kWriteWait},
};
constexpr InitStep kHealInit[] = {
    {kNothing, true, kHealIdleWait},
    {0x3, true, kHealFirstSyncWait},
    {0x3, true, kSyncWait},
    {0x3, true, kSyncWait},
    {0x2, true, kSyncWait},
    {kFunction4Bit2Lines, false, kWriteWait},
    {kEntryIncrement, false, kWriteWait},
    {kDisplayOnCursorOff, false, kWriteWait},
    {kReturnHome, false, kHomeWait},
};
constexpr uint8_t kNotInitialising = 0xFF;

// A cell whose content on the LCD is not known; never a wanted character.
constexpr char kUnknown = 0;

char g_wanted[kLines][kColumns];
char g_shown[kLines][kColumns];
// Where the LCD's address counter points: line and column, or kNowhere.
constexpr uint8_t kNowhere = 0xFF;
uint8_t g_cursorLine = kNowhere;
uint8_t g_cursorColumn = 0;
const InitStep* g_init = kPowerOnInit;
uint8_t g_initSteps = 0;
uint8_t g_initStep = kNotInitialising;
bool g_dirty;  // g_wanted may differ from g_shown

volatile bool g_ready = true;        // the last step has had its time
volatile uint16_t g_countsLeft = 0;  // of the wait, beyond the timer's current period

void startPeriod(uint16_t n)
{
    const uint16_t period = n > 256 ? 256 : n;
    g_countsLeft = static_cast<uint16_t>(n - period);
    TCNT2 = 0;
    OCR2A = static_cast<uint8_t>(period - 1);
}

// Timer2 as a one-shot: CTC at clk/256; its compare interrupt starts the
// wait's next period, or marks the LCD ready and stops the timer. The
// prescaler starts afresh, so that a wait is never a count short.
void startWait(uint16_t n)
{
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        g_ready = false;
        TCCR2A = _BV(WGM21);
        GTCCR = _BV(PSRASY);
        TCCR2B = _BV(CS22) | _BV(CS21);
        startPeriod(n);
        TIFR2 = _BV(OCF2A);
        TIMSK2 = _BV(OCIE2A);
    }
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

void selectRegister(bool data)
{
    if (data)
        LCD_CONTROL_PORT |= board::kLcdRs;
    else
        LCD_CONTROL_PORT &= static_cast<uint8_t>(~board::kLcdRs);
}

void write(uint8_t value, bool data)
{
    selectRegister(data);
    writeNibble(value >> 4);
    writeNibble(value & 0x0F);
    startWait(kWriteWait);
}

char shownAs(char c)
{
    return lumora::wire::isTextByte(static_cast<uint8_t>(c)) ? c : ' ';
}

void forgetShown()
{
    for (uint8_t line = 0; line < kLines; ++line)
        for (uint8_t column = 0; column < kColumns; ++column)
            g_shown[line][column] = kUnknown;
    g_cursorLine = kNowhere;
    g_dirty = true;
}

void initStep()
{
    const InitStep& step = g_init[g_initStep];
    selectRegister(false);
    if (step.value == kNothing) {
        // only the wait
    } else if (step.nibbleOnly) {
        writeNibble(step.value);
    } else {
        writeNibble(step.value >> 4);
        writeNibble(step.value & 0x0F);
    }
    startWait(step.wait);
    if (++g_initStep == g_initSteps) {
        g_initStep = kNotInitialising;
        forgetShown();  // write every cell
    }
}

}  // namespace

void begin()
{
    LCD_CONTROL_PORT &= static_cast<uint8_t>(~(board::kLcdRs | board::kLcdE));
    LCD_CONTROL_DDR |= board::kLcdRs | board::kLcdE;
    LCD_DATA_DDR |= board::kLcdDataMask;
    for (uint8_t line = 0; line < kLines; ++line)
        for (uint8_t column = 0; column < kColumns; ++column)
            g_wanted[line][column] = ' ';
    g_init = kPowerOnInit;
    g_initSteps = sizeof kPowerOnInit / sizeof kPowerOnInit[0];
    g_initStep = 0;
    startWait(kPowerOnWait);
}

void heal()
{
    if (g_initStep != kNotInitialising)
        return;
    g_init = kHealInit;
    g_initSteps = sizeof kHealInit / sizeof kHealInit[0];
    g_initStep = 0;
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
    return g_dirty || g_initStep != kNotInitialising;
}

bool ready()
{
    return g_ready;
}

void update()
{
    if (!g_ready)
        return;
    if (g_initStep != kNotInitialising) {
        initStep();
        return;
    }
    if (!g_dirty)
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
    if (textlcd::g_countsLeft > 0) {
        textlcd::startPeriod(textlcd::g_countsLeft);
        return;
    }
    TIMSK2 = 0;
    TCCR2B = 0;
    textlcd::g_ready = true;
}
