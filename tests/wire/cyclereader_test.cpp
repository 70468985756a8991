// SPDX-License-Identifier: GPL-3.0-or-later
// The cycle reader against streams that Lumora's own sender code builds:
// the frame matrix with its history and changes of mode, the marquee or
// other printable texts, and faults put in on the way.
#include "cyclereader.h"
#include "runcycles.h"
#include "wireformat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lumora::wire {
namespace {

using Completed = CycleReader::Completed;
using testing::append;
using testing::Fault;
using testing::faultyStream;
using testing::RunCycles;

// Whether a byte fits both a lamp and a character: ' ', '?' and '@'.
bool fitsBothWays(std::uint8_t byte)
{
    return isLampByte(byte) && isTextByte(byte);
}

// The same cycle with none of the two-way values where lamps and text meet
// (offsets 0, 63, 64, 83), so that a count one byte off shows at once.
Cycle withClearSeams(Cycle cycle)
{
    if (fitsBothWays(cycle.lamps.front()))
        cycle.lamps.front() = levelLampByte(kMaxLevel, true);
    if (fitsBothWays(cycle.lamps.back()))
        cycle.lamps.back() = levelLampByte(1, true);
    if (fitsBothWays(static_cast<std::uint8_t>(cycle.text.front())))
        cycle.text.front() = '#';
    if (fitsBothWays(static_cast<std::uint8_t>(cycle.text.back())))
        cycle.text.back() = '#';
    return cycle;
}

// Puts values that fit both ways at the seams named by `seams` (a string of
// the letters f: first lamp byte, l: last lamp byte, t: first character,
// e: last character).
Cycle withTwoWaySeams(Cycle cycle, const std::string& seams)
{
    const std::uint8_t barLevel6 = levelLampByte(6, true);  // '?'
    for (char seam : seams) {
        switch (seam) {
        case 'f': cycle.lamps.front() = barLevel6; break;
        case 'l': cycle.lamps.back() = barLevel6; break;
        case 't': cycle.text.front() = ' '; break;
        case 'e': cycle.text.back() = ' '; break;
        }
    }
    return cycle;
}

struct Reported {
    Completed kind;
    Cycle cycle;
    bool operator==(const Reported&) const = default;
};

void collect(const CycleReader& reader, Completed completed, std::vector<Reported>& out)
{
    if (completed != Completed::Nothing)
        out.push_back({completed, decode({reader.cycle(), static_cast<std::size_t>(kCycleBytes)})});
}

void feed(CycleReader& reader, const std::vector<std::uint8_t>& bytes, std::vector<Reported>& out)
{
    for (std::uint8_t byte : bytes)
        collect(reader, reader.feed(byte), out);
}

std::vector<bool> shownExactly(const std::vector<Cycle>& sent, const std::vector<Reported>& out)
{
    std::vector<Cycle> cycles;
    for (const Reported& reported : out)
        cycles.push_back(reported.cycle);
    return testing::shownExactly(sent, cycles);
}

void expectCountsAddUp(const CycleReader& reader, std::uint64_t bytesFed)
{
    const CycleReader::Counts& counts = reader.counts();
    EXPECT_EQ(bytesFed, std::uint64_t{counts.cycles + counts.blankings} * kCycleBytes + counts.droppedBytes +
                            static_cast<std::uint64_t>(reader.pendingBytes()));
}

// Thousands of well-formed cycles, whatever their text (even all spaces, so
// that most seams fit both ways), with Lumora's frames, with seams that all
// fit both ways, or with frames that keep no history, blankings and
// silences between runs and silences on cycle boundaries: every cycle comes
// out exactly, and nothing is ever dropped or realigned.
TEST(CycleReader, WellFormedStreamsAreReadExactlyAndNeverRealigned)
{
    using Frames = RunCycles::Frames;
    for (Frames frames : {Frames::Lumora, Frames::TwoWaySeams, Frames::NoHistory})
        for (int spacePercent : {RunCycles::kMarquee, 0, 50, 90, 100}) {
            SCOPED_TRACE(::testing::Message() << "frames " << static_cast<int>(frames) << " spaces " << spacePercent);
            RunCycles sender(7, spacePercent, frames);
            CycleReader reader;
            std::vector<Reported> expected, out;
            std::uint64_t fed = 0;
            for (int run = 0; run < 4; ++run) {
                for (int i = 0; i < 500; ++i) {
                    const Cycle cycle = sender.next();
                    std::vector<std::uint8_t> bytes;
                    append(bytes, cycle);
                    feed(reader, bytes, out);
                    fed += bytes.size();
                    expected.push_back({isBlanking(cycle) ? Completed::Blanking : Completed::Cycle, cycle});
                    if (sender.below(50) == 0)
                        collect(reader, reader.silence(), out);
                }
                std::vector<std::uint8_t> blanking;
                append(blanking, blankCycle());
                feed(reader, blanking, out);
                fed += blanking.size();
                expected.push_back({Completed::Blanking, blankCycle()});
                collect(reader, reader.silence(), out);
            }
            EXPECT_TRUE(out == expected);
            EXPECT_EQ(reader.counts().droppedBytes, 0U);
            EXPECT_EQ(reader.counts().realignments, 0U);
            EXPECT_EQ(reader.counts().resyncs, 0U);
            expectCountsAddUp(reader, fed);
        }
}

// The faults the tests below put into a stream: a byte lost, repeated,
// added (a lamp value, a character, a byte that is neither, a two-way
// space) or corrupted (one bit flipped, among the lamp bits and the text's).
struct FaultCase {
    Fault fault;
    std::uint8_t value;  // Added: the byte; Corrupted: the bits flipped
};
constexpr FaultCase kFaultCases[] = {
    {Fault::Lost, 0},         {Fault::Repeated, 0},     {Fault::Added, 0x07},     {Fault::Added, 'k'},
    {Fault::Added, 0x8e},     {Fault::Added, ' '},      {Fault::Corrupted, 0x01}, {Fault::Corrupted, 0x10},
    {Fault::Corrupted, 0x20}, {Fault::Corrupted, 0x80},
};

struct FaultyRead {
    std::vector<bool> shown;  // which sent cycles came out exactly
    std::size_t reported;     // cycles and blankings the reader reported
};

// Reads `sent` with one fault in cycle `faulty`, up to the silence after the
// stream, and checks that every byte fed is accounted for.
FaultyRead readWithFault(const std::vector<Cycle>& sent, int faulty, int offset, const FaultCase& c)
{
    CycleReader reader;
    std::vector<Reported> out;
    const auto bytes = faultyStream(sent, faulty, offset, c.fault, c.value);
    feed(reader, bytes, out);
    collect(reader, reader.silence(), out);
    expectCountsAddUp(reader, bytes.size());
    return {shownExactly(sent, out), out.size()};
}

// A byte lost, repeated, added (a lamp value, a character, a byte that is
// neither, a two-way space) or corrupted (one bit flipped) at every offset
// of a cycle: only that cycle is lost (or shown as it arrived), every other
// comes out exactly. The streams are Lumora's, with seams that show a
// count one byte off (the next test covers seams that hide it).
TEST(CycleReader, OneFaultAtAnyOffsetCostsOnlyTheCycleItHits)
{
    constexpr int kFaulty = 3;
    int worst = 0;
    for (const FaultCase& c : kFaultCases) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            RunCycles sender(seed, seed % 2 == 0 ? RunCycles::kMarquee : 40);
            std::vector<Cycle> sent;
            for (int i = 0; i < 8; ++i)
                sent.push_back(withClearSeams(sender.next()));
            for (int offset = 0; offset < kCycleBytes; ++offset) {
                SCOPED_TRACE(::testing::Message() << "fault " << static_cast<int>(c.fault) << " value " << int{c.value}
                                                  << " seed " << seed << " offset " << offset);
                const FaultyRead read = readWithFault(sent, kFaulty, offset, c);
                const auto lost = static_cast<int>(std::count(read.shown.begin(), read.shown.end(), false));
                worst = std::max(worst, lost);
                for (std::size_t i = 0; i < sent.size(); ++i) {
                    if (static_cast<int>(i) != kFaulty) {
                        EXPECT_TRUE(read.shown[i]) << "cycle " << i;
                    }
                }
                EXPECT_LE(read.reported, sent.size());
            }
        }
    }
    ::testing::Test::RecordProperty("worstCyclesLost", worst);
}

// Where the bytes at the seams fit both ways, a count one byte off is as
// well-formed as the true one, and the content alone cannot tell them apart:
// - a lost byte then stays unseen until a seam shows it, and the cycle
//   after that comes out exactly;
// - after a culprit, the old count and the true one may both last a whole
//   cycle; the reader waits for the most likely one instead of taking the
//   first that ends.
// Lumora's frames carry their history from cycle to cycle, which a count
// one byte off breaks: with it, each of these faults costs only the cycle
// it hit.
TEST(CycleReader, SeamsThatFitBothWaysHideOrBlurAFault)
{
    struct Case {
        const char* name;
        Fault fault;
        int offset;  // in cycle 2
        std::uint8_t value;
        std::vector<std::string> seams;  // two-way seams of cycles 0, 1, 2, ...
        int firstShownAfter;             // the first cycle after 2 that comes out, without history
        int firstShownWithHistory;       // the same with Lumora's frames
    };
    const Case cases[] = {
        {"lost, seen at once", Fault::Lost, 10, 0, {}, 3, 3},
        {"lost, hidden one cycle", Fault::Lost, 10, 0, {"", "", "t", "f"}, 4, 3},
        {"lost, hidden two cycles", Fault::Lost, 10, 0, {"", "", "t", "ft", "f"}, 5, 3},
        {"lost, hidden three cycles", Fault::Lost, 10, 0, {"", "", "t", "ft", "ft", "f"}, 6, 3},
        {"repeated, old count lasts", Fault::Repeated, 10, 0, {"", "", "e", "l"}, 3, 3},
        {"corrupted, neighbour lasts", Fault::Replaced, 30, 'k', {"", "", "le", "l"}, 3, 3},
        {"corrupted, other neighbour lasts", Fault::Replaced, 30, 'k', {"", "", "t", "ft"}, 3, 3},
    };
    for (const Case& c : cases) {
        for (bool history : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.name << (history ? ", with history" : ", without history"));
            RunCycles sender(11, RunCycles::kMarquee,
                             history ? RunCycles::Frames::Lumora : RunCycles::Frames::NoHistory);
            std::vector<Cycle> sent;
            for (std::size_t i = 0; i < 10; ++i) {
                const Cycle cycle = withClearSeams(sender.next());
                sent.push_back(i < c.seams.size() ? withTwoWaySeams(cycle, c.seams[i]) : cycle);
            }
            CycleReader reader;
            std::vector<Reported> out;
            feed(reader, faultyStream(sent, 2, c.offset, c.fault, c.value), out);

            const std::vector<bool> shown = shownExactly(sent, out);
            const int firstShown = history ? c.firstShownWithHistory : c.firstShownAfter;
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(shown[static_cast<std::size_t>(i)], i < 2 || i >= firstShown) << "cycle " << i;
        }
    }
}

// On Lumora's streams, including those whose seams all fit both ways (so
// that only the history shows a count one byte off), a byte lost, repeated,
// added or corrupted at any offset costs at most 2 cycles: the one it hit
// and at most the next; every later cycle comes out exactly.
TEST(CycleReader, OneFaultCostsAtMostTwoCyclesOnLumorasStreams)
{
    using Frames = RunCycles::Frames;
    constexpr int kFaulty = 4;
    constexpr int kCycles = 10;
    for (Frames frames : {Frames::Lumora, Frames::TwoWaySeams}) {
        for (int spacePercent : {RunCycles::kMarquee, 90}) {
            for (const FaultCase& c : kFaultCases) {
                for (unsigned seed = 1; seed <= 3; ++seed) {
                    RunCycles sender(seed, spacePercent, frames);
                    std::vector<Cycle> sent;
                    for (int i = 0; i < kCycles; ++i)
                        sent.push_back(sender.next());
                    for (int offset = 0; offset < kCycleBytes; ++offset) {
                        SCOPED_TRACE(::testing::Message()
                                     << "frames " << static_cast<int>(frames) << " spaces " << spacePercent << " fault "
                                     << static_cast<int>(c.fault) << " value " << int{c.value} << " seed " << seed
                                     << " offset " << offset);
                        const std::vector<bool> shown = readWithFault(sent, kFaulty, offset, c).shown;
                        EXPECT_LE(std::count(shown.begin(), shown.end(), false), 2);
                        for (int i = 0; i < kCycles; ++i) {
                            if (i < kFaulty || i > kFaulty + 1) {
                                EXPECT_TRUE(shown[static_cast<std::size_t>(i)]) << "cycle " << i;
                            }
                        }
                    }
                }
            }
        }
    }
}

// The blanking sequence after a fault in the run's last cycle is still the
// blanking, whether or not the hold-off before it was long enough to count
// as a silence: at its last byte, or at the silence after the run.
TEST(CycleReader, BlankingAfterAFaultIsStillRecognised)
{
    struct Case {
        Fault fault;
        int offset;         // in the run's last cycle
        const char* seams;  // two-way seams of the run's cycles
        bool holdOffIsSilence;
    };
    std::vector<Case> cases;
    for (const char* seams : {"", "flte"})
        for (Fault fault : {Fault::Lost, Fault::Repeated, Fault::Corrupted})
            for (int offset : {0, 31, 63, 64, 75, 83})
                for (bool holdOffIsSilence : {false, true})
                    cases.push_back({fault, offset, seams, holdOffIsSilence});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "fault " << static_cast<int>(c.fault) << " offset " << c.offset << " two-way seams '" << c.seams
                     << "' hold-off silence " << c.holdOffIsSilence);
        RunCycles sender(5, RunCycles::kMarquee);
        std::vector<Cycle> sent;
        for (int i = 0; i < 4; ++i)
            sent.push_back(withTwoWaySeams(withClearSeams(sender.next()), c.seams));
        CycleReader reader;
        std::vector<Reported> out;
        feed(reader, faultyStream(sent, 3, c.offset, c.fault, 0x40), out);
        if (c.holdOffIsSilence)
            collect(reader, reader.silence(), out);
        std::vector<std::uint8_t> blanking;
        append(blanking, blankCycle());
        feed(reader, blanking, out);
        collect(reader, reader.silence(), out);

        ASSERT_GE(out.size(), 4U);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_TRUE(out[i] == (Reported{Completed::Cycle, sent[i]})) << "cycle " << i;
        EXPECT_TRUE(out.back() == (Reported{Completed::Blanking, blankCycle()}));
        EXPECT_EQ(reader.counts().blankings, 1U);
    }
}

// A silence ends the count: a partial cycle is dropped (a resync), one on a
// cycle boundary drops nothing, a second call changes nothing, and one
// inside a cycle of a well-formed stream (a sender slower than the caller
// thought) costs only that cycle.
TEST(CycleReader, SilenceEndsTheCount)
{
    struct Case {
        const char* name;
        int silenceAt;       // bytes into cycle 1 (0: on the boundary)
        bool partialGoesOn;  // the rest of cycle 1 follows the silence
        int calls;
        std::uint32_t resyncs;
        bool cycleOneShown;
    };
    const Case cases[] = {
        {"on the boundary", 0, true, 2, 0, true},
        {"after a partial that stops", 30, false, 1, 1, false},
        {"inside a cycle that goes on", 50, true, 2, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunCycles sender(3, RunCycles::kMarquee);
        std::vector<Cycle> sent;
        for (int i = 0; i < 4; ++i)
            sent.push_back(withClearSeams(sender.next()));
        std::vector<std::uint8_t> bytes;
        for (const Cycle& cycle : sent)
            append(bytes, cycle);
        const auto split = bytes.begin() + kCycleBytes + c.silenceAt;
        const auto resume = c.partialGoesOn ? split : bytes.begin() + 2 * kCycleBytes;
        const std::vector<std::uint8_t> before(bytes.begin(), split);
        const std::vector<std::uint8_t> after(resume, bytes.end());

        CycleReader reader;
        std::vector<Reported> out;
        feed(reader, before, out);
        for (int i = 0; i < c.calls; ++i)
            collect(reader, reader.silence(), out);
        feed(reader, after, out);

        const std::vector<bool> shown = shownExactly(sent, out);
        EXPECT_EQ(shown, (std::vector<bool>{true, c.cycleOneShown, true, true}));
        EXPECT_EQ(reader.counts().resyncs, c.resyncs);
        expectCountsAddUp(reader, before.size() + after.size());
    }
}

// A reader that starts in the middle of a run (a display reset by the port
// opening, a lumora-display started late) counts from a wrong offset; the
// content moves it, and the first whole cycle it receives comes out.
TEST(CycleReader, ReaderStartedInsideACycleShowsTheFirstWholeOne)
{
    RunCycles sender(9, RunCycles::kMarquee);
    std::vector<Cycle> sent;
    for (int i = 0; i < 5; ++i)
        sent.push_back(withClearSeams(sender.next()));
    std::vector<std::uint8_t> bytes;
    for (const Cycle& cycle : sent)
        append(bytes, cycle);
    for (int start : {1, 20, 63, 64, 70, 83}) {
        SCOPED_TRACE(start);
        CycleReader reader;
        std::vector<Reported> out;
        feed(reader, {bytes.begin() + start, bytes.end()}, out);
        const std::vector<bool> shown = shownExactly(sent, out);
        EXPECT_EQ(shown, (std::vector<bool>{false, true, true, true, true}));
        EXPECT_EQ(out.size(), 4U);
    }
}

// A reader that starts at any byte of a running stream (a display switched
// on, or reset, while Lumora sends) shows no cycle shifted: it takes no
// count on trust, and there is no old count yet that a count one byte off
// could be preferred to. On Lumora's streams it shows every cycle from the
// third after the one it started in. Where every seam fits both ways no
// count can be told from its neighbour until the sender pauses.
TEST(CycleReader, StartedAtAnyByteOfARunningStreamShowsNothingShifted)
{
    struct Case {
        RunCycles::Frames frames;
        int text;
        bool inStepWithinTwoCycles;
    };
    const Case cases[] = {{RunCycles::Frames::Lumora, RunCycles::kMarquee, true},
                          {RunCycles::Frames::Lumora, 10, true},
                          {RunCycles::Frames::TwoWaySeams, 30, false}};
    for (const Case& c : cases) {
        for (unsigned seed = 1; seed <= 80; ++seed) {
            RunCycles sender(seed, c.text, c.frames);
            std::vector<Cycle> sent;
            std::vector<std::uint8_t> bytes;
            for (int i = 0; i < 8; ++i) {
                sent.push_back(sender.next());
                append(bytes, sent.back());
            }
            for (int start = 1; start < kCycleBytes; ++start) {
                CycleReader reader(CycleReader::Start::MidStream);
                std::vector<Reported> out;
                feed(reader, {bytes.begin() + start, bytes.end()}, out);
                const std::vector<bool> shown = shownExactly(sent, out);
                const auto exact = static_cast<std::size_t>(std::count(shown.begin(), shown.end(), true));
                ASSERT_EQ(exact, out.size()) << "a cycle shown shifted; seed " << seed << ", start " << start;
                if (c.inStepWithinTwoCycles) {
                    ASSERT_TRUE(std::all_of(shown.begin() + 3, shown.end(), [](bool s) { return s; }))
                        << "not in step within two cycles; seed " << seed << ", start " << start;
                } else {
                    // The sender's pause marks where its last cycle ended.
                    collect(reader, reader.silence(), out);
                    ASSERT_FALSE(out.empty()) << "nothing shown after the pause; seed " << seed << ", start " << start;
                    ASSERT_EQ(out.back().cycle, sent.back()) << "seed " << seed << ", start " << start;
                }
            }
        }
    }
}

}  // namespace
}  // namespace lumora::wire
