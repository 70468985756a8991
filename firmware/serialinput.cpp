// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialinput.h"

#include "board.h"

#include <avr/interrupt.h>
#include <util/atomic.h>

namespace serialinput {
namespace {

static_assert(kRingBytes == 256, "the indices wrap as uint8_t");

volatile uint8_t g_ring[kRingBytes];
volatile uint8_t g_write;  // only the interrupt moves it
volatile uint8_t g_read;   // only the main loop moves it
volatile uint16_t g_lost;
volatile uint16_t g_framing;

void countUp(volatile uint16_t& counter)
{
    if (counter != 0xFFFF)
        counter = counter + 1;
}

}  // namespace

void begin()
{
    UCSR0A = 0;  // normal speed (board.h)
    UBRR0 = board::kUbrr;
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00);  // 8 data bits, no parity, 1 stop bit
    UCSR0B = _BV(RXEN0) | _BV(RXCIE0);
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        g_read = g_write;
        g_lost = 0;
        g_framing = 0;
    }
}

bool take(uint8_t& byte)
{
    const uint8_t read = g_read;
    if (read == g_write)
        return false;
    byte = g_ring[read];
    g_read = static_cast<uint8_t>(read + 1);
    return true;
}

bool empty()
{
    return g_read == g_write;
}

uint16_t lostBytes()
{
    uint16_t value;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        value = g_lost;
    }
    return value;
}

uint16_t framingErrors()
{
    uint16_t value;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        value = g_framing;
    }
    return value;
}

}  // namespace serialinput

using namespace serialinput;

ISR(USART_RX_vect)
{
    const uint8_t status = UCSR0A;  // the error flags belong to the byte in UDR0
    const uint8_t byte = UDR0;
    if (status & _BV(DOR0))
        countUp(g_lost);
    if (status & _BV(FE0))
        countUp(g_framing);
    const uint8_t write = g_write;
    const uint8_t next = static_cast<uint8_t>(write + 1);
    if (next == g_read) {
        countUp(g_lost);
        return;
    }
    g_ring[write] = byte;
    g_write = next;
}
