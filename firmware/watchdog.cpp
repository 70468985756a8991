// SPDX-License-Identifier: GPL-3.0-or-later
#include "watchdog.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/wdt.h>
#include <util/atomic.h>

namespace watchdog {
namespace {

// Kept through a restart and a reset: the start-up runs before .data and
// .bss are set up.
uint8_t g_resetFlags __attribute__((section(".noinit")));

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

uint8_t resetFlags()
{
    return g_resetFlags;
}

}  // namespace watchdog

// Before anything else, on every start: clear the reset flags and the
// chip's watchdog, and switch off every interrupt source; main() sets up
// again what the firmware uses.
extern "C" void lumoraEarlyStart() __attribute__((naked, used, section(".init3")));
extern "C" void lumoraEarlyStart()
{
    const uint8_t flags = MCUSR;
    MCUSR = 0;
    wdt_disable();
    if (flags != 0)
        watchdog::g_resetFlags = flags;
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
