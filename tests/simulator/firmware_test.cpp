// SPDX-License-Identifier: GPL-3.0-or-later
// The display's firmware image, as it would be flashed, on the simulated
// board in simulated time: what lamps and LCD show for what arrives on the
// line, and how the board heals from what a real desk does to it.
#include "boardrun.h"

#include "hextext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

using namespace lumora::sim::testing;
using lumora::sim::Bootloader;
using lumora::sim::LcdGlitch;
namespace wire = lumora::wire;

std::vector<wire::Cycle> cyclesWithTexts(std::mt19937& random, const std::vector<std::string>& texts)
{
    std::vector<wire::Cycle> cycles;
    for (const std::string& text : texts)
        cycles.push_back(lumoraLikeCycle(random, text));
    return cycles;
}

// The marquee's slices, one rotation every `cyclesPerStep` cycles.
std::vector<wire::Cycle> marquee(std::mt19937& random, std::string text, int cycles, int cyclesPerStep = 34)
{
    std::vector<wire::Cycle> out;
    for (int i = 0; i < cycles; ++i) {
        if (i > 0 && i % cyclesPerStep == 0)
            std::rotate(text.begin(), text.begin() + 1, text.end());
        out.push_back(lumoraLikeCycle(random, text.substr(0, wire::kTextLength)));
    }
    return out;
}

const std::string kMarqueeText = "Megacool - zelf gemaakt se - schoon hee ;-) ... ";

TEST(Firmware, ShowsPowerUpThenEachCycleThenTheBlanking)
{
    std::mt19937 random(11);
    const auto cycles = cyclesWithTexts(random, {"Megacool - zelf gema", "egacool - zelf gemaa"});
    BoardRun board;
    ASSERT_TRUE(board.runUntil(1000));
    board.send(bytesOf({cycles[0]}));
    ASSERT_TRUE(board.runFor(300));
    board.send(bytesOf({cycles[1]}));
    ASSERT_TRUE(board.runFor(300));
    board.send(bytesOf({wire::blankCycle()}));
    ASSERT_TRUE(board.runFor(300));

    const auto& shown = board.updates();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].lamps, darkLamps());
    EXPECT_EQ(shown[0].line1, "   Lumora display   ");
    EXPECT_EQ(shown[0].line2, "ready  rs 0  lost 0 ");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(shown[i + 1].lamps, hexOfLamps(cycles[i]));
        EXPECT_EQ(shown[i + 1].line1, textOf(cycles[i]));
    }
    EXPECT_EQ(shown[3].lamps, darkLamps());
    EXPECT_EQ(shown[3].line1, std::string(20, ' '));
    EXPECT_EQ(shown[3].line2, "blank  rs 0  lost 0 ");
}

TEST(Firmware, UnbrokenStreamAtLineRateForTenSecondsLosesNothing)
{
    // 700 cycles of 84 bytes at 5760 bytes/s: 10.2 s without a pause.
    std::mt19937 random(5);
    std::vector<wire::Cycle> cycles;
    for (int i = 0; i < 700; ++i) {
        char text[21];
        std::snprintf(text, sizeof text, "stream %06d ......", i);
        cycles.push_back(lumoraLikeCycle(random, text));
    }
    BoardRun board;
    ASSERT_TRUE(board.runUntil(1000));
    board.send(bytesOf(cycles));
    ASSERT_TRUE(board.runFor(10500));
    const auto& shown = board.updates();
    ASSERT_EQ(shown.size(), cycles.size() + 1);
    for (std::size_t i = 0; i < cycles.size(); ++i) {
        ASSERT_EQ(shown[i + 1].line1, textOf(cycles[i])) << "update " << i;
        ASSERT_EQ(shown[i + 1].lamps, hexOfLamps(cycles[i])) << "update " << i;
    }
    EXPECT_EQ(shown.back().line2.substr(6), " rs 0  lost 0 ");
    const auto& line = board.display().receiver().counts();
    EXPECT_EQ(line.overruns, 0u);
    EXPECT_EQ(line.received, line.sent);
    EXPECT_EQ(board.display().lcd().counts().lostWhileBusy, 0u);
    EXPECT_EQ(board.display().lcd().counts().timingViolations, 0u);
}

TEST(Firmware, ALostByteCostsAtMostTwoCycles)
{
    // Twelve cycles without a pause; one byte of cycle 4 never arrives. At
    // most two cycles may go unseen or, where the loss left a cycle that
    // still reads as one, be shown as they arrived; every other cycle shows
    // exactly, in order.
    constexpr int kCycles = 12;
    constexpr int kDamaged = 4;
    for (int lostByte : {0, 1, 37, 63, 64, 70, 83}) {
        SCOPED_TRACE("lost byte " + std::to_string(lostByte));
        std::mt19937 random(static_cast<unsigned>(lostByte));
        std::vector<wire::Cycle> cycles;
        for (int i = 0; i < kCycles; ++i)
            cycles.push_back(lumoraLikeCycle(random, "lost byte test " + std::to_string(100 + i)));
        auto bytes = bytesOf(cycles);
        bytes.erase(bytes.begin() + kDamaged * wire::kCycleBytes + lostByte);

        BoardRun board;
        ASSERT_TRUE(board.runUntil(1000));
        board.send(bytes);
        ASSERT_TRUE(board.runFor(600));
        std::vector<int> exactOutsideTheCost;
        std::size_t wrong = 0;
        for (std::size_t u = 1; u < board.updates().size(); ++u) {
            const Shown& update = board.updates()[u];
            const auto match = std::find_if(cycles.begin(), cycles.end(), [&](const wire::Cycle& c) {
                return textOf(c) == update.line1 && hexOfLamps(c) == update.lamps;
            });
            const int i = match == cycles.end() ? -1 : static_cast<int>(match - cycles.begin());
            if (i >= 0 && (i < kDamaged || i >= kDamaged + 2))
                exactOutsideTheCost.push_back(i);
            else
                ++wrong;
        }
        std::vector<int> expected;
        for (int i = 0; i < kCycles; ++i) {
            if (i < kDamaged || i >= kDamaged + 2)
                expected.push_back(i);
        }
        EXPECT_EQ(exactOutsideTheCost, expected);
        EXPECT_LE(wrong, 2u) << "more than two cycles shown wrong or extra";
    }
}

// Opening the port resets the board while the sender already sends, so the
// receiver starts in the middle of a byte and misreads it: that is no loss
// on the line. Later faults are counted: a pause in mid-cycle costs two
// steps ("rs": the partial cycle, then the count that started in its
// middle), a lost byte one, a framing error a byte ("lost").
TEST(Firmware, CountersShowFaultsOnTheLineButNotTheStart)
{
    struct Case {
        const char* what;
        bool resetMidStream;
        bool faults;
        std::string counters;
    };
    const Case cases[] = {
        {"a start on a line already streaming", true, false, "rs 0  lost 0"},
        {"a pause in mid-cycle, a lost byte, a framing error", false, true, "rs 3  lost 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::mt19937 random(4);
        std::vector<wire::Cycle> cycles;
        for (int i = 0; i < 16; ++i)
            cycles.push_back(lumoraLikeCycle(random, "counters " + std::to_string(i)));
        auto bytes = bytesOf(cycles);
        BoardRun board;
        ASSERT_TRUE(board.runUntil(1000));
        if (c.resetMidStream) {
            board.send(bytes);
            ASSERT_TRUE(board.runFor(20));
            board.display().resetByDtr();  // 20 ms into the stream, in the middle of a byte
            board.display().addFramingError(1);
        } else {
            board.display().addFramingError(700);
            const auto half = bytes.begin() + 5 * wire::kCycleBytes + 40;
            board.send({bytes.begin(), half});
            ASSERT_TRUE(board.runFor(1000));  // the sender stalls in mid-cycle
            std::vector<std::uint8_t> rest(half, bytes.end());
            rest.erase(rest.begin() + 3 * wire::kCycleBytes + 10);  // a byte lost
            board.send(rest);
        }
        ASSERT_TRUE(board.runFor(1000));
        const Shown last = board.updates().back();
        EXPECT_EQ(last.line1, textOf(cycles.back()));
        EXPECT_EQ(last.line2.substr(7, 12), c.counters) << last.line2;
    }
}

// With the self-test jumper fitted, a power-up lights one lamp row of one
// chip after the other, then every lamp, naming each step on the LCD; the
// reset that opening the port causes does not.
TEST(Firmware, SelfTestJumperTestsEveryLampAtPowerUpOnly)
{
    BoardRun board;
    board.display().setSelfTestJumper(true);
    ASSERT_TRUE(board.runUntil(8000));
    std::vector<Shown> steps;
    for (const Shown& update : board.updates()) {
        if (update.line1 == "  Lumora self-test  ")
            steps.push_back(update);
    }
    ASSERT_EQ(steps.size(), 65u);
    for (int chip = 0; chip < 8; ++chip) {
        for (int lamp = 0; lamp < 8; ++lamp) {
            const Shown& step = steps[static_cast<std::size_t>(chip * 8 + lamp)];
            std::string lamps(128, '0');
            char group[3];
            std::snprintf(group, sizeof group, "%02x", 1U << lamp);
            for (int column = 0; column < 8; ++column)
                lamps.replace(static_cast<std::size_t>(chip * 16 + column * 2), 2, group);
            EXPECT_EQ(step.lamps, lamps) << "chip " << chip + 1 << " lamp " << lamp + 1;
            EXPECT_EQ(step.line2.substr(0, 15),
                      "chip " + std::to_string(chip + 1) + "  lamp " + std::to_string(lamp + 1) + " ");
        }
    }
    EXPECT_EQ(steps.back().lamps, std::string(128, 'f'));
    EXPECT_EQ(board.shown().line1, "   Lumora display   ");

    const std::size_t before = board.updates().size();
    board.display().resetByDtr();
    ASSERT_TRUE(board.runFor(1000));
    ASSERT_GT(board.updates().size(), before);
    EXPECT_EQ(board.updates()[before].line1, "   Lumora display   ");
    EXPECT_EQ(board.shown().lamps, darkLamps());
}

// Faults a real board meets while it shows a cycle: lamps and LCD are right
// again within a few seconds, without a reset.
TEST(Firmware, HealsAnLcdPoweredLateAndLampDriversThatPowerUpAgain)
{
    std::mt19937 random(8);
    const wire::Cycle lit = lumoraLikeCycle(random, "lit before the fault");
    {
        BoardRun board;  // the LCD gets power 800 ms after the board
        board.display().lcdPower(false);
        ASSERT_TRUE(board.runUntil(800));
        board.display().lcdPower(true);
        ASSERT_TRUE(board.runUntil(5000));
        EXPECT_EQ(board.shown().line1, "   Lumora display   ");
        EXPECT_EQ(board.shown().line2, "ready  rs 0  lost 0 ");
    }
    BoardRun board;  // the lamp drivers power up again: shut down, digits random
    ASSERT_TRUE(board.runUntil(1000));
    board.send(bytesOf({lit}));
    ASSERT_TRUE(board.runFor(100));
    ASSERT_EQ(board.shown().lamps, hexOfLamps(lit));
    board.display().powerUpLamps();
    ASSERT_TRUE(board.runFor(1100));
    EXPECT_EQ(board.shown().lamps, hexOfLamps(lit));
    EXPECT_EQ(board.shown().line1, textOf(lit));
}

// A single LCD glitch at every nibble of a live marquee's writes: a stray
// pulse on E (the LCD then reads every later nibble half a byte off, and
// runs text as instructions: shifts, entry modes, cursor moves), a fall
// back to the 8-bit interface, or a drop of its supply. Within five seconds
// (the heal comes every three) the glass shows exactly the text again,
// with no cursor, the lamps right.
void glitchAtEveryNibble(LcdGlitch glitch)
{
    constexpr long kStreamFrom = 500;
    constexpr long kGlitchFrom = 1000;  // just before the marquee's second step
    constexpr long kCheckedAfter = 3200;
    std::mt19937 random(3);
    const auto cycles = marquee(random, kMarqueeText, (kGlitchFrom - kStreamFrom + kCheckedAfter + 200) * 69 / 1000);
    BoardRun board;
    ASSERT_TRUE(board.runUntil(kStreamFrom));
    board.send(bytesOf(cycles));
    ASSERT_TRUE(board.runUntil(kGlitchFrom));
    // A full rewrite of line 1 is 21 writes, 42 nibbles.
    for (std::uint64_t strobes = 1; strobes <= 44; ++strobes) {
        const std::string failed = inChild([&] {
            board.display().lcdGlitchAfterStrobes(glitch, strobes);
            if (!board.runUntil(kGlitchFrom + kCheckedAfter))
                return std::string("the firmware stopped");
            const Shown now = board.shown();
            const Shown& last = board.updates().back();  // the cycle on show
            std::string wrong;
            if (now.millisecond - last.millisecond > 20)
                wrong += " the stream ended too soon;";
            if (now.line1 != last.line1 || now.line1 != textOf(cycles[board.updates().size() - 2]))
                wrong += " line 1 is not the cycle's text;";
            if (now.line2.substr(2) != "/s   rs 0  lost 0 ")
                wrong += " line 2 is not the status;";
            if (now.cursor)
                wrong += " a cursor shows;";
            if (now.lamps != last.lamps)
                wrong += " the lamps are not the cycle's;";
            return wrong.empty() ? wrong : "|" + now.line1 + "|" + now.line2 + "|" + wrong;
        });
        EXPECT_EQ(failed, "") << "after " << strobes << " strobes";
    }
}

TEST(Firmware, AStrayPulseOnTheLcdsEAtAnyNibbleIsHealedToTheExactText)
{
    glitchAtEveryNibble(LcdGlitch::StrayPulse);
}

TEST(Firmware, AnLcdFallenBackTo8BitsAtAnyNibbleIsHealedToTheExactText)
{
    glitchAtEveryNibble(LcdGlitch::EightBit);
}

TEST(Firmware, AnLcdPowerDropAtAnyNibbleIsHealedToTheExactText)
{
    glitchAtEveryNibble(LcdGlitch::PowerDrop);
}

// A main loop that stops dead, as a CPU derailed by a supply sag may, with
// interrupts served or not: the display starts again, without the
// bootloader where it can (the old Nano's one would loop for ever after a
// watchdog reset), and shows the stream again within two seconds.
TEST(Firmware, AHungMainLoopRestartsAndTheLampsComeBack)
{
    struct Case {
        Bootloader bootloader;
        bool interruptsOff;
        std::uint64_t watchdogResets;
    };
    const Case cases[] = {
        {Bootloader::Old, false, 0},
        {Bootloader::Optiboot, false, 0},
        {Bootloader::Optiboot, true, 1},
    };
    std::mt19937 random(6);
    const auto cycles = marquee(random, kMarqueeText, 69 * 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(lumora::sim::bootloaderName(c.bootloader)) +
                     (c.interruptsOff ? ", interrupts off" : ", interrupts on"));
        BoardRun board(c.bootloader);
        ASSERT_TRUE(board.runUntil(2000));
        board.send(bytesOf(cycles));
        ASSERT_TRUE(board.runFor(1000));
        ASSERT_TRUE(board.display().hang(c.interruptsOff));
        const long hungAt = board.nowMs();
        const std::size_t shownBefore = board.updates().size();
        ASSERT_TRUE(board.runFor(2000));
        EXPECT_EQ(board.display().board().resets(lumora::sim::ResetCause::Watchdog), c.watchdogResets);
        const auto& updates = board.updates();
        const auto back =
            std::find_if(updates.begin() + static_cast<long>(shownBefore), updates.end(),
                         [&](const Shown& u) { return u.line1 != "   Lumora display   " && u.lamps != darkLamps(); });
        ASSERT_NE(back, updates.end()) << "the stream never showed again";
        EXPECT_LE(back->millisecond - hungAt, 2000);
        EXPECT_EQ(board.shown().line1, updates.back().line1);
    }
}

// Opening a real port resets an Uno or Nano, and its bootloader reads the
// line: a run there begins with zero bytes (wire::kResetFillerBytes), then
// Lumora's cycles. The reset comes at any moment of a cycle's time after
// the port opened (every byte offset, and every 1/84 of a byte time for
// the receiver's alignment): the bootloader reads zeros only, a handful,
// and starts the firmware before the cycles come; its flash and EEPROM are
// never written; the first lamps show within two seconds of the reset.
void noPictureByteReachesTheBootloader(Bootloader bootloader)
{
    const std::string texts[] = {"d0 U dUd t@ddU0 d  d", kMarqueeText};
    constexpr std::uint64_t kByteCycles = lumora::sim::kClockHz / wire::kLineBytesPerSecond;
    std::mt19937 random(12);
    BoardRun board(bootloader);
    ASSERT_TRUE(board.runUntil(2000));  // powered on long before the port opens
    for (const std::string& text : texts) {
        std::vector<std::uint8_t> line(wire::kResetFillerBytes, wire::kResetFillerByte);
        const auto stream = bytesOf(marquee(random, text, 69));
        line.insert(line.end(), stream.begin(), stream.end());
        const int phases = &text == &texts[0] ? wire::kCycleBytes : 3;
        for (int phase = 0; phase < phases; ++phase) {
            const std::string failed = inChild([&] {
                board.send(line);  // the port opens: the line starts now
                const std::uint64_t opened = board.display().cycle();
                const std::uint64_t reset =
                    opened + static_cast<std::uint64_t>(phase) * (kByteCycles + kByteCycles / 84);
                if (!board.display().runUntil(reset))
                    return std::string("the firmware stopped");
                board.display().resetByDtr();
                const std::size_t before = board.updates().size();
                const bool lamps = board.runUntilOr(board.nowMs() + 2000, [&] {
                    return std::any_of(board.updates().begin() + static_cast<long>(before), board.updates().end(),
                                       [](const Shown& u) { return u.lamps != darkLamps(); });
                });
                std::string wrong;
                const auto& received = board.display().receiver().bootloaderBytes();
                if (received.size() > 8 ||
                    !std::all_of(received.begin(), received.end(), [](std::uint8_t b) { return b == 0; }))
                    wrong += " the bootloader read " + lumora::hexBytes(received) + ";";
                if (board.display().board().firmwareStartedAt() >=
                    opened + static_cast<std::uint64_t>(wire::kResetFillerBytes) * kByteCycles)
                    wrong += " the firmware started after the cycles came;";
                if (!lamps)
                    wrong += " no lamps within 2 s of the reset;";
                if (!board.display().board().firmwareIntact())
                    wrong += " the flash was written;";
                if (board.display().board().memoryWrites().eepromWrites != 0)
                    wrong += " the EEPROM was written;";
                return wrong;
            });
            EXPECT_EQ(failed, "") << "\"" << text << "\", reset " << phase << " phases after the port opened";
        }
    }
}

TEST(Bootloaders, NoPictureByteReachesOptibootWhateverTheMomentOfTheReset)
{
    noPictureByteReachesTheBootloader(Bootloader::Optiboot);
}

TEST(Bootloaders, NoPictureByteReachesTheOldNanoBootloaderWhateverTheMomentOfTheReset)
{
    noPictureByteReachesTheBootloader(Bootloader::Old);
}

}  // namespace
