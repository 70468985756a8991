// SPDX-License-Identifier: GPL-3.0-or-later
#include "watchdog.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/wdt.h>
#include <util/atomic.h>

namespace watchdog {
namespace {

volatile bool g_armed = false;
volatile uint16_t g_sinceFed = 0;

[[noreturn]] void restart()
{
    // From inside the interrupt: interrupts are off, and the C run-time's
    // start sets up the stack again.
    asm volatile("jmp 0");
    __builtin_unreachable();
}

}  // namespace

void start()
{
    g_sinceFed = 0;
    g_armed = true;
    wdt_enable(WDTO_1S);
}

void feed()
{
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        g_sinceFed = 0;
    }
    wdt_reset();
}

void tick()
{
    if (g_armed && ++g_sinceFed >= kSoftLimitMs)
        restart();
}

}  // namespace watchdog

// Before anything else, on every start (watchdog.h): main() then sets up
// what the firmware uses.
extern "C" void lumoraEarlyStart() __attribute__((naked, used, section(".init3")));
extern "C" void lumoraEarlyStart()
{
    MCUSR = 0;
    wdt_disable();
    CLKPR = _BV(CLKPCE);  // timed: the next write within 4 cycles
    CLKPR = 0;
    MCUCR = _BV(IVCE);  // timed too: vectors at 0, pull-ups allowed
    MCUCR = 0;
    PRR = 0;
    GTCCR = 0;
    DDRB = 0;
    DDRC = 0;
    DDRD = 0;
    PORTB = 0;
    PORTC = 0;
    PORTD = 0;
    TCCR1B = 0;
    TIMSK0 = 0;
    TIMSK1 = 0;
    TIMSK2 = 0;
    UCSR0B = 0;
    EIMSK = 0;
    PCICR = 0;
    SPCR = 0;
    TWCR = 0;
    ADCSRA = 0;
    EECR = 0;
    ACSR = _BV(ACD);
}
