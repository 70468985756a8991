// SPDX-License-Identifier: GPL-3.0-or-later
// The light display's firmware: receives Lumora's byte stream and shows
// each cycle on the 512 lamps and the LCD.
//
// What the display shows:
//   power-up   lamps dark; line 1 "Lumora display", line 2 "ready" and
//              the counters (below)
//   a cycle    the 64 lamp bytes on the lamps as they are, the 20
//              characters on line 1; line 2 the cycles per second
//   blanking   lamps dark, line 1 blank (the blanking sequence's spaces),
//              line 2 "blank"
//   no byte for a second after a cycle: the last cycle stays, line 2
//              "silent"
// Line 2 always ends with two counters, each shown up to 99: "rs", the
// times the reader had to get back in step with the cycles since it first
// found them (after a lost, added or damaged byte, or a pause in mid-cycle),
// and "lost", the bytes the board lost or received damaged since the line
// was first in step (after a whole cycle, or a moment of quiet: a receiver
// switched on in the middle of a byte misreads it, which is no loss). A
// cycle that does not read as one (cyclereader.h) is never shown: the lamps
// keep the last good one.
//
// Lamps and LCD heal themselves: every second the lamps get their picture
// and configuration again, every three seconds and whenever the state on
// line 2 changes the LCD is initialised again and rewritten.
//
// With the self-test jumper (board.h) held at power-up, and only then (not
// on the reset that opening the port causes), the display first lights its
// lamps one lamp row of one chip at a time, then all of them, naming each
// step on the LCD.
//
// Everything but reception runs in this loop; it sleeps (idle mode) when
// there is nothing to do and wakes on a received byte, the 1 ms tick or
// the LCD's next step.
#include "board.h"
#include "cyclereader.h"
#include "lampchain.h"
#include "serialinput.h"
#include "silencewatch.h"
#include "textlcd.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/sleep.h>
#include <util/atomic.h>
#include <util/delay.h>

static_assert(F_CPU == board::kClockHz, "the build's clock and the board's differ");

namespace {

volatile uint16_t g_milliseconds;

uint16_t milliseconds()
{
    uint16_t value;
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE)
    {
        value = g_milliseconds;
    }
    return value;
}

void startClocks()
{
    TCCR0A = _BV(WGM01);             // CTC
    TCCR0B = _BV(CS01) | _BV(CS00);  // clk/64: 4 us per count, 1 ms per period
    OCR0A = board::kTimer0Top;
    TIMSK0 = _BV(OCIE0A);
}

// The update strobe is high from the moment a cycle is complete (or the
// board starts) until the lamps and both LCD lines show it.
void strobe(bool high)
{
    if (high)
        STROBE_PORT |= board::kStrobe;
    else
        STROBE_PORT &= static_cast<uint8_t>(~board::kStrobe);
}

constexpr char kGreeting[textlcd::kColumns + 1] = "   Lumora display   ";
constexpr uint16_t kStatusPeriodMs = 1000;  // also how often the lamps heal
constexpr uint16_t kLcdHealPeriodMs = 3000;
constexpr uint8_t kCounterCap = 99;

constexpr char kSelfTestTitle[textlcd::kColumns + 1] = "  Lumora self-test  ";
constexpr uint16_t kSelfTestStepMs = 80;
constexpr uint16_t kSelfTestAllLitMs = 1000;

// Holds kWarm from the first start on: SRAM keeps it through a reset (a
// port open, the bootloader), not through a power cycle, after which it
// holds whatever the cells powered up with.
constexpr uint32_t kWarm = 0x4C756D6FUL;
uint32_t g_warm __attribute__((section(".noinit")));

enum class LinkState : uint8_t { Waiting, Live, Blanked, Silent };

// Appends n (capped at kCounterCap) to text at position; returns the end.
uint8_t putNumber(char* text, uint8_t position, uint16_t n)
{
    if (n > kCounterCap)
        n = kCounterCap;
    if (n >= 10)
        text[position++] = static_cast<char>('0' + n / 10);
    text[position++] = static_cast<char>('0' + n % 10);
    return position;
}

uint8_t putText(char* text, uint8_t position, const char* word)
{
    while (*word && position < textlcd::kColumns)
        text[position++] = *word++;
    return position;
}

// Line 2: the state in 6 columns, then "rs" and "lost" with their counts,
// "68/s   rs 0  lost 0".
void statusLine(char* text, LinkState state, uint16_t cyclesPerSecond, uint16_t realignments, uint16_t lost)
{
    for (uint8_t i = 0; i < textlcd::kColumns; ++i)
        text[i] = ' ';
    switch (state) {
    case LinkState::Waiting: putText(text, 0, "ready"); break;
    case LinkState::Blanked: putText(text, 0, "blank"); break;
    case LinkState::Silent: putText(text, 0, "silent"); break;
    case LinkState::Live: putText(text, putNumber(text, 0, cyclesPerSecond), "/s"); break;
    }
    putNumber(text, putText(text, 7, "rs "), realignments);
    putNumber(text, putText(text, 13, "lost "), lost);
}

uint32_t lostOnTheLine()
{
    return static_cast<uint32_t>(serialinput::lostBytes()) + serialinput::framingErrors();
}

// A running total counted only from a moment on (the first time the board
// was in step), as the status line shows it: capped at 65535, never wrapping.
class CountFromInStep {
public:
    // The moment, once: later calls keep the first base.
    void start(uint32_t total)
    {
        if (!m_started) {
            m_started = true;
            m_base = total;
        }
    }
    uint16_t since(uint32_t total) const
    {
        const uint32_t n = m_started ? total - m_base : 0;
        return n > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(n);
    }

private:
    bool m_started = false;
    uint32_t m_base = 0;
};

// Sleeps until the next interrupt unless a byte or the LCD is waiting. The
// check and the sleep cannot be split by an interrupt: sei() takes effect
// after the next instruction, which is the sleep.
void sleepUntilNeeded()
{
    cli();
    if (!serialinput::empty()) {
        sei();
        return;
    }
    if (textlcd::pending() && textlcd::ready()) {
        sei();
        return;
    }
    sleep_enable();
    sei();
    sleep_cpu();
    sleep_disable();
}

}  // namespace

ISR(TIMER0_COMPA_vect)
{
    g_milliseconds = static_cast<uint16_t>(g_milliseconds + 1);
}

namespace {

// Keeps the LCD moving while the self-test waits `ms`.
void selfTestWait(uint16_t ms)
{
    const uint16_t start = milliseconds();
    while (static_cast<uint16_t>(milliseconds() - start) < ms) {
        textlcd::update();
        if (!textlcd::pending())
            strobe(false);
        sleepUntilNeeded();
    }
}

// One lamp row (lamp 1..8 of every group) of one chip after the other, then
// every lamp at once; the LCD names each step.
void selfTest()
{
    static uint8_t picture[lumora::wire::kLampBytes];
    char line[textlcd::kColumns];
    textlcd::setLine(0, kSelfTestTitle);
    for (uint8_t chip = 0; chip < lumora::wire::kRows; ++chip) {
        for (uint8_t lamp = 0; lamp < lumora::wire::kLampsPerGroup; ++lamp) {
            for (uint8_t i = 0; i < lumora::wire::kLampBytes; ++i)
                picture[i] = i / lumora::wire::kColumns == chip ? static_cast<uint8_t>(1U << lamp) : 0;
            strobe(true);
            lampchain::show(picture);
            for (uint8_t i = 0; i < textlcd::kColumns; ++i)
                line[i] = ' ';
            putNumber(line, putText(line, putNumber(line, putText(line, 0, "chip "), chip + 1U), "  lamp "), lamp + 1U);
            textlcd::setLine(1, line);
            selfTestWait(kSelfTestStepMs);
        }
    }
    for (uint8_t i = 0; i < lumora::wire::kLampBytes; ++i)
        picture[i] = 0xFF;
    strobe(true);
    lampchain::show(picture);
    for (uint8_t i = 0; i < textlcd::kColumns; ++i)
        line[i] = ' ';
    putText(line, 0, "all 512 lamps");
    textlcd::setLine(1, line);
    selfTestWait(kSelfTestAllLitMs);
    lampchain::darken();
}

// Whether the self-test jumper holds its pin low; only after a power-up.
bool selfTestWanted()
{
    const bool poweredUp = g_warm != kWarm;
    g_warm = kWarm;
    SELFTEST_PORT |= board::kSelfTest;  // the pull-up
    _delay_ms(1);                       // lets the pin's capacitance charge
    return poweredUp && (SELFTEST_PIN & board::kSelfTest) == 0;
}

}  // namespace

int main()
{
    STROBE_DDR |= board::kStrobe;
    strobe(true);
    startClocks();
    lampchain::begin();
    lampchain::configure();
    sei();
    textlcd::begin();
    if (selfTestWanted())
        selfTest();

    // The board may start while the sender sends (a port open resets it):
    // the reader finds the cycles by their content, unless the line is
    // quiet for a while first. Static: counted in .bss, not hidden on the
    // stack.
    static lumora::wire::CycleReader reader(lumora::wire::CycleReader::Start::MidStream);
    SilenceWatch silence;
    LinkState state = LinkState::Waiting;
    uint16_t cyclesThisPeriod = 0;
    uint16_t cyclesPerSecond = 0;
    bool heardThisPeriod = false;
    // Getting in step with a stream that was already running (the board
    // just started) is no loss of step: counted from the first cycle on.
    auto stepLossTotal = [&] { return reader.counts().realignments + reader.counts().resyncs; };
    CountFromInStep stepLosses;
    // Nor is a byte misread because the receiver started in the middle of
    // it: bytes count as lost from the moment the line was in step, after a
    // whole cycle or a millisecond without a byte (longer than a byte time).
    CountFromInStep lost;
    auto lineNowInStep = [&] { lost.start(lostOnTheLine()); };
    char line[textlcd::kColumns];
    LinkState shownState = state;
    bool lcdHealDue = false;  // once the LCD has shown what it was given
    auto refreshStatus = [&] {
        statusLine(line, state, cyclesPerSecond, stepLosses.since(stepLossTotal()), lost.since(lostOnTheLine()));
        textlcd::setLine(1, line);
        if (state != shownState) {
            shownState = state;
            lcdHealDue = true;
        }
    };
    // Shows what the reader completed, if anything.
    auto show = [&](lumora::wire::CycleReader::Completed completed) {
        if (completed == lumora::wire::CycleReader::Completed::Nothing)
            return;
        const bool ordinary = completed == lumora::wire::CycleReader::Completed::Cycle;
        stepLosses.start(stepLossTotal());
        lineNowInStep();
        silence.cycleEnded(ordinary);
        strobe(true);
        const uint8_t* cycle = reader.cycle();
        lampchain::show(cycle);
        textlcd::setLine(0, reinterpret_cast<const char*>(cycle + lumora::wire::kLampBytes));
        if (ordinary) {
            ++cyclesThisPeriod;
            if (state != LinkState::Live) {
                state = LinkState::Live;
                cyclesPerSecond = cyclesThisPeriod;
            }
        } else {
            state = LinkState::Blanked;
        }
        refreshStatus();
    };
    textlcd::setLine(0, kGreeting);
    refreshStatus();
    serialinput::begin();
    silence.listenFrom(milliseconds());
    set_sleep_mode(SLEEP_MODE_IDLE);
    uint16_t periodStart = milliseconds();
    uint16_t lcdHealStart = periodStart;
    uint16_t lastMs = periodStart;
    bool heardThisMs = true;

    for (;;) {
        const uint16_t now = milliseconds();
        if (now != lastMs) {
            if (!heardThisMs && now - lastMs == 1)
                lineNowInStep();  // a whole millisecond of quiet
            lastMs = now;
            heardThisMs = false;
        }
        if (silence.tick(now))
            show(reader.silence());
        uint8_t byte;
        while (serialinput::take(byte)) {
            heardThisPeriod = true;
            heardThisMs = true;
            if (silence.byteAt(now))
                show(reader.silence());
            show(reader.feed(byte));
        }

        if (static_cast<uint16_t>(now - periodStart) >= kStatusPeriodMs) {
            periodStart = now;
            cyclesPerSecond = cyclesThisPeriod;
            cyclesThisPeriod = 0;
            if (state == LinkState::Live && !heardThisPeriod)
                state = LinkState::Silent;
            heardThisPeriod = false;
            refreshStatus();
            lampchain::heal();
        }
        if (static_cast<uint16_t>(now - lcdHealStart) >= kLcdHealPeriodMs) {
            lcdHealStart = now;
            lcdHealDue = true;
        }

        textlcd::update();
        if (!textlcd::pending()) {
            strobe(false);
            // The heal rewrites what the LCD shows: started only now, it
            // is done before the next cycle at the line's full rate.
            if (lcdHealDue) {
                lcdHealDue = false;
                textlcd::heal();
            }
        }
        sleepUntilNeeded();
    }
}
