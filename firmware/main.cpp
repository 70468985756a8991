// SPDX-License-Identifier: GPL-3.0-or-later
// The light display's firmware: receives Lumora's byte stream and shows
// each cycle on the 512 lamps and the LCD.
//
// What the display shows:
//   power-up   lamps dark; line 1 "Lumora display", line 2 "ready" and
//              the counters (statuspanel.h)
//   a cycle    the 64 lamp bytes on the lamps as they are, the 20
//              characters on line 1; line 2 the cycles per second
//   blanking   lamps dark, line 1 blank (the blanking sequence's spaces),
//              line 2 "blank"
//   no byte for a second after a cycle: the last cycle stays, line 2
//              "silent"
// A cycle that does not read as one (cyclereader.h) is never shown: the
// lamps keep the last good one.
//
// Lamps and LCD heal themselves: every second the lamps get their picture
// and configuration again, every three seconds and whenever the state on
// line 2 changes the LCD is initialised again and rewritten. A main loop
// that stops is started again (watchdog.h). With the self-test jumper held
// at power-up, the display first tests its lamps (selftest.h).
//
// Everything but reception runs in this loop; it sleeps (idle mode) when
// there is nothing to do and wakes on a received byte, the 1 ms tick or
// the LCD's next step.
#include "board.h"
#include "cyclereader.h"
#include "lampchain.h"
#include "selftest.h"
#include "serialinput.h"
#include "silencewatch.h"
#include "statuspanel.h"
#include "textlcd.h"
#include "watchdog.h"

#include <avr/interrupt.h>
#include <avr/sleep.h>

namespace {

constexpr char kGreeting[textlcd::kColumns + 1] = "   Lumora display   ";
constexpr uint16_t kSecondMs = 1000;  // the status's period, and the lamps' heal
constexpr uint16_t kLcdHealPeriodMs = 3000;

// Static: counted in .bss, not hidden on the stack. The board may start
// while the sender sends (a port open resets it): the reader finds the
// cycles by their content, unless the line is quiet for a while first.
lumora::wire::CycleReader g_reader(lumora::wire::CycleReader::Start::MidStream);
StatusPanel g_status;
bool g_lcdHealDue = false;  // once the LCD has shown what it was given

StatusPanel::Totals totals()
{
    const auto& counts = g_reader.counts();
    return {counts.realignments + counts.resyncs,
            static_cast<uint32_t>(serialinput::lostBytes()) + serialinput::framingErrors()};
}

void refreshStatus()
{
    char line[textlcd::kColumns];
    g_status.text(line, totals());
    textlcd::setLine(1, line);
    if (g_status.takeStateChange())
        g_lcdHealDue = true;
}

// Shows what the reader completed, if anything.
void show(lumora::wire::CycleReader::Completed completed, SilenceWatch& silence)
{
    if (completed == lumora::wire::CycleReader::Completed::Nothing)
        return;
    const bool ordinary = completed == lumora::wire::CycleReader::Completed::Cycle;
    silence.cycleEnded(ordinary);
    board::strobe(true);
    const uint8_t* cycle = g_reader.cycle();
    lampchain::show(cycle);
    textlcd::setLine(0, reinterpret_cast<const char*>(cycle + lumora::wire::kLampBytes));
    g_status.shown(ordinary, totals());
    refreshStatus();
}

}  // namespace

int main()
{
    STROBE_DDR |= board::kStrobe;
    board::strobe(true);
    board::startClock();
    lampchain::begin();
    lampchain::configure();
    sei();
    textlcd::begin();
    watchdog::start();
    if (selftest::wanted())
        selftest::run();

    SilenceWatch silence;
    textlcd::setLine(0, kGreeting);
    refreshStatus();
    serialinput::begin();
    silence.listenFrom(board::milliseconds());
    set_sleep_mode(SLEEP_MODE_IDLE);
    uint16_t secondStart = board::milliseconds();
    uint16_t lcdHealStart = secondStart;
    uint16_t lastMs = secondStart;
    bool heardThisSecond = false;
    bool heardThisMs = true;

    for (;;) {
        watchdog::feed();
        const uint16_t now = board::milliseconds();
        if (now != lastMs) {
            if (!heardThisMs && now - lastMs == 1)
                g_status.quietMillisecond(totals());
            lastMs = now;
            heardThisMs = false;
        }
        if (silence.tick(now))
            show(g_reader.silence(), silence);
        uint8_t byte;
        while (serialinput::take(byte)) {
            heardThisSecond = true;
            heardThisMs = true;
            if (silence.byteAt(now))
                show(g_reader.silence(), silence);
            show(g_reader.feed(byte), silence);
        }

        if (static_cast<uint16_t>(now - secondStart) >= kSecondMs) {
            secondStart = now;
            g_status.secondPassed(heardThisSecond);
            heardThisSecond = false;
            refreshStatus();
            lampchain::heal();
        }
        if (static_cast<uint16_t>(now - lcdHealStart) >= kLcdHealPeriodMs) {
            lcdHealStart = now;
            g_lcdHealDue = true;
        }

        textlcd::update();
        if (!textlcd::pending()) {
            board::strobe(false);
            // The heal rewrites what the LCD shows: started only now, it
            // is done before the next cycle at the line's full rate.
            if (g_lcdHealDue) {
                g_lcdHealDue = false;
                textlcd::heal();
            }
        }
        board::sleepUntilNeeded();
    }
}
