// SPDX-License-Identifier: GPL-3.0-or-later
// The shared cycle reader on the ATmega328P: CPU cycles per feed() call,
// counted by Timer1 at the CPU clock, for a stream in step, one with a byte
// lost every tenth cycle, and random bytes (the reader searches all the
// time). Prints the average and the longest call on the UART, then stops.
// Built and run in simavr by bench/avr/measure.
#include "cyclereader.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <stdlib.h>

namespace {

using lumora::wire::CycleReader;
using namespace lumora::wire;

constexpr uint16_t kCycles = 200;

void put(char c)
{
    while ((UCSR0A & (1 << UDRE0)) == 0) {
    }
    UDR0 = static_cast<uint8_t>(c);
}

void print(const char* text)
{
    while (*text)
        put(*text++);
}

void printNumber(uint32_t value)
{
    char digits[11];
    print(ultoa(value, digits, 10));
}

struct Cost {
    uint32_t total = 0;
    uint32_t bytes = 0;
    uint16_t longest = 0;
};

uint16_t g_overhead = 0;
uint16_t g_lcg = 1;

uint8_t nextRandom()
{
    g_lcg = static_cast<uint16_t>(g_lcg * 25173U + 13849U);
    return static_cast<uint8_t>(g_lcg >> 8);
}

void timedFeed(CycleReader& reader, uint8_t byte, Cost& cost)
{
    const uint16_t start = TCNT1;
    const CycleReader::Completed completed = reader.feed(byte);
    const uint16_t spent = static_cast<uint16_t>(TCNT1 - start - g_overhead);
    asm volatile("" ::"r"(completed));
    cost.total += spent;
    ++cost.bytes;
    if (spent > cost.longest)
        cost.longest = spent;
}

// The bytes of cycle `n`: levels in both modes, printable text.
void makeCycle(uint16_t n, uint8_t* bytes)
{
    for (uint8_t i = 0; i < kLampBytes; ++i)
        bytes[i] = levelLampByte((n + i) % (kMaxLevel + 1), (n + i) % 3 != 0);
    for (uint8_t i = 0; i < kTextLength; ++i)
        bytes[kLampBytes + i] = static_cast<uint8_t>('A' + (n + i) % 26);
}

void report(const char* name, const Cost& cost, const CycleReader& reader)
{
    print(name);
    print(": ");
    printNumber(cost.bytes);
    print(" bytes, ");
    printNumber(cost.total / cost.bytes);
    put('.');
    printNumber((cost.total % cost.bytes) * 10 / cost.bytes);
    print(" cycles/byte, longest call ");
    printNumber(cost.longest);
    print(", cycles read ");
    printNumber(reader.counts().cycles);
    print("\n");
}

CycleReader g_inStep, g_lossy, g_random;

}  // namespace

int main()
{
    UBRR0 = 16;
    UCSR0A = 1 << U2X0;
    UCSR0B = 1 << TXEN0;
    TCCR1A = 0;
    TCCR1B = 1 << CS10;  // Timer1 counts CPU cycles

    const uint16_t a = TCNT1;
    const uint16_t b = TCNT1;
    g_overhead = static_cast<uint16_t>(b - a);

    uint8_t bytes[kCycleBytes];
    Cost inStep, lossy, random;
    for (uint16_t n = 0; n < kCycles; ++n) {
        makeCycle(n, bytes);
        for (uint8_t i = 0; i < kCycleBytes; ++i) {
            timedFeed(g_inStep, bytes[i], inStep);
            if (n % 10 != 5 || i != 30)
                timedFeed(g_lossy, bytes[i], lossy);
            timedFeed(g_random, nextRandom(), random);
        }
    }
    report("in step", inStep, g_inStep);
    report("a byte lost every 10 cycles", lossy, g_lossy);
    report("random bytes", random, g_random);
    cli();
    sleep_cpu();
}
