// SPDX-License-Identifier: GPL-3.0-or-later
#include "board.h"

#include "serialinput.h"
#include "textlcd.h"
#include "watchdog.h"

#include <avr/interrupt.h>
#include <avr/sleep.h>
#include <util/atomic.h>

namespace board {
namespace {

volatile uint16_t g_milliseconds;

}  // namespace

void startClock()
{
    TCCR0A = _BV(WGM01);             // CTC
    TCCR0B = _BV(CS01) | _BV(CS00);  // clk/64: 4 us per count, 1 ms per period
    OCR0A = kTimer0Top;
    TIMSK0 = _BV(OCIE0A);
}

uint16_t milliseconds()
{
    uint16_t value;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        value = g_milliseconds;
    }
    return value;
}

void strobe(bool high)
{
    if (high)
        STROBE_PORT |= kStrobe;
    else
        STROBE_PORT &= static_cast<uint8_t>(~kStrobe);
}

// The check and the sleep cannot be split by an interrupt: sei() takes
// effect after the next instruction, which is the sleep.
void sleepUntilNeeded()
{
    cli();
    if (!serialinput::empty() || (textlcd::pending() && textlcd::ready())) {
        sei();
        return;
    }
    sleep_enable();
    sei();
    sleep_cpu();
    sleep_disable();
}

}  // namespace board

ISR(TIMER0_COMPA_vect)
{
    board::g_milliseconds = static_cast<uint16_t>(board::g_milliseconds + 1);
    watchdog::tick();
}
