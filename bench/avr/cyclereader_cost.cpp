// SPDX-License-Identifier: GPL-3.0-or-later
// The shared cycle reader on the ATmega328P: CPU cycles per feed() call,
// counted by Timer1 at the CPU clock, over streams one after another:
// cycles without history in step and with a byte lost every tenth cycle,
// random bytes (the reader searches all the time), and cycles that carry
// on their history as Lumora's frames do (in step, with a byte lost every
// tenth cycle, and with seams that fit both ways and a byte lost or added
// every tenth cycle: only the history shows those). Prints the average and
// the longest call on the UART, then stops. Built and run in simavr by
// bench/avr/measure.
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
    while ((UCSR0A & (1 << UDRE0)) == 0) { }
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
CycleReader g_reader;

uint8_t nextRandom()
{
    g_lcg = static_cast<uint16_t>(g_lcg * 25173U + 13849U);
    return static_cast<uint8_t>(g_lcg >> 8);
}

void timedFeed(uint8_t byte, Cost& cost)
{
    const uint16_t start = TCNT1;
    const CycleReader::Completed completed = g_reader.feed(byte);
    const uint16_t spent = static_cast<uint16_t>(TCNT1 - start - g_overhead);
    asm volatile("" ::"r"(completed));
    cost.total += spent;
    ++cost.bytes;
    if (spent > cost.longest)
        cost.longest = spent;
}

// The bytes of cycle `n`, without history: levels in both modes,
// printable text.
void makeCycle(uint16_t n, uint8_t* bytes)
{
    for (uint8_t i = 0; i < kLampBytes; ++i)
        bytes[i] = levelLampByte((n + i) % (kMaxLevel + 1), (n + i) % 3 != 0);
    for (uint8_t i = 0; i < kTextLength; ++i)
        bytes[kLampBytes + i] = static_cast<uint8_t>('A' + (n + i) % 26);
}

// The next cycle carrying on the history in `bytes`: every row's groups
// move one column toward the middle, new random levels enter columns 1
// and 8. With `twoWay`, band 0 left and band 7 right stay at level 6 and
// the text starts and ends with a space, so that every seam fits both ways.
void nextHistoryCycle(uint8_t* bytes, bool twoWay)
{
    for (uint8_t row = 0; row < kRows; ++row) {
        uint8_t* group = bytes + row * kColumns;
        for (uint8_t column = 3; column > 0; --column) {
            group[column] = group[column - 1];
            group[kColumns - 1 - column] = group[kColumns - column];
        }
        const bool bars = (nextRandom() & 1) != 0;
        group[0] = levelLampByte(nextRandom() % (kMaxLevel + 1), bars);
        group[kColumns - 1] = levelLampByte(nextRandom() % (kMaxLevel + 1), bars);
    }
    for (uint8_t i = 0; i < kTextLength; ++i)
        bytes[kLampBytes + i] = static_cast<uint8_t>('A' + nextRandom() % 26);
    if (twoWay) {
        bytes[0] = bytes[kLampBytes - 1] = levelLampByte(6, true);
        bytes[kLampBytes] = bytes[kCycleBytes - 1] = ' ';
    }
}

void report(const char* name, const Cost& cost)
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
    printNumber(g_reader.counts().cycles);
    print("\n");
}

enum class Stream : uint8_t { Plain, History, TwoWaySeams, Random };
enum class Fault : uint8_t { None, Lost, LostOrAdded };

// Feeds kCycles cycles of one kind to a fresh reader and reports the cost.
void measure(const char* name, Stream stream, Fault fault)
{
    g_reader = CycleReader();
    uint8_t bytes[kCycleBytes] = {};
    Cost cost;
    for (uint16_t n = 0; n < kCycles; ++n) {
        if (stream == Stream::Plain)
            makeCycle(n, bytes);
        else if (stream != Stream::Random)
            nextHistoryCycle(bytes, stream == Stream::TwoWaySeams);
        const bool faulty = fault != Fault::None && n % 10 == 5;
        const uint8_t at = static_cast<uint8_t>(n * 7 % kCycleBytes);
        for (uint8_t i = 0; i < kCycleBytes; ++i) {
            if (faulty && i == at && fault == Fault::LostOrAdded && n % 20 == 5)
                timedFeed(nextRandom(), cost);  // an added byte
            else if (faulty && i == at)
                continue;  // a lost byte
            timedFeed(stream == Stream::Random ? nextRandom() : bytes[i], cost);
        }
    }
    report(name, cost);
}

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

    measure("in step", Stream::Plain, Fault::None);
    measure("a byte lost every 10 cycles", Stream::Plain, Fault::Lost);
    measure("random bytes", Stream::Random, Fault::None);
    measure("history, in step", Stream::History, Fault::None);
    measure("history, a byte lost every 10 cycles", Stream::History, Fault::Lost);
    measure("history and two-way seams, a byte lost or added every 10 cycles", Stream::TwoWaySeams, Fault::LostOrAdded);
    cli();
    sleep_cpu();
}
