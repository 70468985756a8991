// SPDX-License-Identifier: GPL-3.0-or-later
#include "selftest.h"

#include "board.h"
#include "lampchain.h"
#include "textlcd.h"
#include "watchdog.h"

#include <util/delay.h>

namespace selftest {
namespace {

constexpr char kTitle[textlcd::kColumns + 1] = "  Lumora self-test  ";

// Holds kWarm from the first start on: SRAM keeps it through a reset, not
// through a power cycle, after which it holds whatever the cells powered
// up with.
constexpr uint32_t kWarm = 0x4C756D6FUL;
uint32_t g_warm __attribute__((section(".noinit")));

// Keeps the LCD moving while the test waits `ms`.
void wait(uint16_t ms)
{
    const uint16_t start = board::milliseconds();
    while (static_cast<uint16_t>(board::milliseconds() - start) < ms) {
        watchdog::feed();
        textlcd::update();
        if (!textlcd::pending())
            board::strobe(false);
        board::sleepUntilNeeded();
    }
}

uint8_t put(char* text, uint8_t position, const char* word)
{
    while (*word)
        text[position++] = *word++;
    return position;
}

uint8_t put(char* text, uint8_t position, uint8_t digit)
{
    text[position++] = static_cast<char>('0' + digit);
    return position;
}

void show(const uint8_t* picture, const char* line)
{
    board::strobe(true);
    lampchain::show(picture);
    textlcd::setLine(1, line);
}

}  // namespace

bool wanted()
{
    const bool poweredUp = g_warm != kWarm;
    g_warm = kWarm;
    SELFTEST_PORT |= board::kSelfTest;  // the pull-up
    _delay_ms(1);                       // lets the pin's capacitance charge
    return poweredUp && (SELFTEST_PIN & board::kSelfTest) == 0;
}

void run()
{
    static uint8_t picture[lumora::wire::kLampBytes];
    char line[textlcd::kColumns];
    textlcd::setLine(0, kTitle);
    for (uint8_t chip = 0; chip < lumora::wire::kRows; ++chip) {
        for (uint8_t lamp = 0; lamp < lumora::wire::kLampsPerGroup; ++lamp) {
            for (uint8_t i = 0; i < lumora::wire::kLampBytes; ++i)
                picture[i] = i / lumora::wire::kColumns == chip ? static_cast<uint8_t>(1U << lamp) : 0;
            for (char& c : line)
                c = ' ';
            put(line, put(line, put(line, put(line, 0, "chip "), static_cast<uint8_t>(chip + 1)), "  lamp "),
                static_cast<uint8_t>(lamp + 1));
            show(picture, line);
            wait(kStepMs);
        }
    }
    for (uint8_t& lamps : picture)
        lamps = 0xFF;
    for (char& c : line)
        c = ' ';
    put(line, 0, "all 512 lamps");
    show(picture, line);
    wait(kAllLitMs);
    lampchain::darken();
}

}  // namespace selftest
