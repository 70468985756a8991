// SPDX-License-Identifier: GPL-3.0-or-later
// The LCD model against the HD44780 datasheet, in the respects a glitch
// can leave a module in: the firmware's heal is checked with it, so a model
// that forgave what a real module does not would pass a firmware that
// stays garbled.
#include "hd44780.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using lumora::sim::Hd44780;

// Drives the module as the board does: 4-bit writes, high nibble first,
// every write given its time.
class Driver {
public:
    void nibble(std::uint8_t n, bool data, Hd44780::Nanoseconds wait = 0)
    {
        lcd.setRs(data, m_now);
        lcd.setData(n, m_now);
        m_now += 1000;
        lcd.setE(true, m_now);
        m_now += 1000;
        lcd.setE(false, m_now);
        m_now += 1000 + wait;
    }
    void write(std::uint8_t value, bool data, Hd44780::Nanoseconds wait = 100'000)
    {
        nibble(value >> 4, data);
        nibble(value & 0x0F, data);
        m_now += wait;
    }
    void instruction(std::uint8_t value) { write(value, false, 5'000'000); }
    void text(const std::string& s)
    {
        for (char c : s)
            write(static_cast<std::uint8_t>(c), true);
    }
    // The initialisation by instruction, then 2 lines, display on, entry
    // increment, clear.
    void initialise()
    {
        m_now += 50'000'000;
        for (std::uint8_t n : {0x3, 0x3, 0x3, 0x2}) {
            nibble(n, false);
            m_now += 5'000'000;
        }
        for (std::uint8_t i : {0x28, 0x0C, 0x06, 0x01})
            instruction(i);
    }
    std::string line(int n) const { return lcd.glass().lines[static_cast<std::size_t>(n)]; }
    Hd44780::Nanoseconds now() const { return m_now; }

    Hd44780 lcd;

private:
    Hd44780::Nanoseconds m_now = 0;
};

std::string padded(const std::string& s)
{
    return s + std::string(Hd44780::kColumns - s.size(), ' ');
}

TEST(Hd44780, BehavesAsTheDatasheetSays)
{
    struct Case {
        const char* what;
        void (*act)(Driver&);
        std::string line1;
        std::string line2;
    };
    const Case cases[] = {
        {"after power-on: dark, until initialised", [](Driver& d) { d.text("AB"); }, padded(""), padded("")},
        {"initialised: text from the first cell",
         [](Driver& d) {
             d.initialise();
             d.text("Lumora");
             d.instruction(0xC0);
             d.text("line 2");
         },
         padded("Lumora"), padded("line 2")},
        {"8-bit mode reads the unwired DB0..DB3 as 1: a nibble 4 is 'O', not '@'",
         [](Driver& d) {
             d.nibble(0x3, false, 100'000);  // function set, 8 bits, 2 lines, 5x10
             d.nibble(0x0, false, 100'000);  // display, cursor and blink on
             d.nibble(0x4, true, 100'000);
         },
         padded("O"), padded("")},
        {"entry mode decrement writes right to left",
         [](Driver& d) {
             d.initialise();
             d.instruction(0x04);
             d.instruction(0x85);
             d.text("ABC");
         },
         padded("   CBA"), padded("")},
        {"a display shift moves the text; return home brings it back",
         [](Driver& d) {
             d.initialise();
             d.text("0123456789");
             d.instruction(0x18);
             d.instruction(0x18);
         },
         padded("23456789"), padded("")},
        {"return home undoes the shift",
         [](Driver& d) {
             d.initialise();
             d.text("0123456789");
             d.instruction(0x18);
             d.instruction(0x02);
         },
         padded("0123456789"), padded("")},
        {"entry mode with shift moves the display as characters come",
         [](Driver& d) {
             d.initialise();
             d.instruction(0x07);
             d.instruction(0x80 | 20);  // just right of the visible cells
             d.text("AB");
         },
         std::string(Hd44780::kColumns - 2, ' ') + "AB", padded("")},
        {"clear sets entry increment again and undoes the shift",
         [](Driver& d) {
             d.initialise();
             d.instruction(0x04);
             d.instruction(0x1C);
             d.instruction(0x01);
             d.text("ok");
         },
         padded("ok"), padded("")},
        {"line 1 runs on into line 2",
         [](Driver& d) {
             d.initialise();
             d.instruction(0x80 | 0x27);
             d.text("xy");
         },
         padded(""), padded("y")},
        {"a stray E puts it half a byte out of step: 'A' writes another character",
         [](Driver& d) {
             d.initialise();
             d.text("Hi");
             d.lcd.strayPulse(d.now());
             d.text("A");  // 'i''s low nibble with 'A''s high one: 0x94
         },
         padded("Hi?"), padded("")},
        {"the initialisation by instruction brings it back from half a byte off",
         [](Driver& d) {
             d.initialise();
             d.lcd.strayPulse(d.now());
             d.initialise();
             d.text("back");
         },
         padded("back"), padded("")},
        {"fallen back to 8 bits, a character's first nibble is a character of its own",
         [](Driver& d) {
             d.initialise();
             d.lcd.fallBackTo8Bit();
             d.text("a");  // 0x6F 'o'; the second nibble, 3 us later, finds it busy
         },
         padded("o"), padded("")},
        {"a write while the last one executes is lost",
         [](Driver& d) {
             d.initialise();
             d.write('A', true, 0);
             d.write('B', true, 0);
         },
         padded("A"), padded("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Driver driver;
        c.act(driver);
        EXPECT_EQ(driver.line(0), c.line1);
        EXPECT_EQ(driver.line(1), c.line2);
    }
}

TEST(Hd44780, CountsWhatASlowModuleWouldMiss)
{
    Driver driver;
    driver.initialise();
    const auto before = driver.lcd.counts();
    EXPECT_EQ(before.lostWhileBusy, 0u);
    EXPECT_EQ(before.timingViolations, 0u);
    driver.write('A', true, 0);
    driver.write('B', true, 0);  // 5 us later: busy for 52.6 us
    EXPECT_EQ(driver.lcd.counts().lostWhileBusy, 1u);
    driver.lcd.setE(true, driver.now() + 1'000'000);
    driver.lcd.setE(false, driver.now() + 1'000'200);  // E high 200 ns
    EXPECT_EQ(driver.lcd.counts().timingViolations, 1u);
}

}  // namespace
