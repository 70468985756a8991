// SPDX-License-Identifier: GPL-3.0-or-later
#include "cycledecoder.h"
#include "recording.h"
#include "senderstream.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <sstream>

namespace lumora::display {
namespace {

using namespace std::chrono_literals;
using testing::sampleCycle;
using testing::SenderStream;
using Kind = DecodedEvent::Kind;

// What the sender's own work adds between two cycles (meters, frame update).
constexpr Nanoseconds kSenderWork = 300us;

std::vector<Kind> kinds(const std::vector<DecodedEvent>& events)
{
    std::vector<Kind> result;
    for (const DecodedEvent& event : events)
        result.push_back(event.kind);
    return result;
}

// Every byte fed is in a cycle, was dropped or is still pending, and the
// events tell the same story as the counts (drops are told with the next
// cycle or silence, so some may not be told yet).
void expectBytesAccountedFor(const CycleDecoder& decoder, const std::vector<DecodedEvent>& events)
{
    const DecoderCounts& counts = decoder.counts();
    EXPECT_EQ(counts.bytes, (counts.cycles + counts.blankings) * wire::kCycleBytes + counts.droppedBytes +
                                static_cast<std::uint64_t>(decoder.pendingBytes()));
    std::uint64_t cycles = 0, told = 0;
    for (const DecodedEvent& event : events) {
        if (event.kind == Kind::Resync || event.kind == Kind::Realign)
            told += event.droppedBytes;
        else
            ++cycles;
    }
    EXPECT_EQ(cycles, counts.cycles + counts.blankings);
    EXPECT_LE(told, counts.droppedBytes);
}

// A run on senders of different speed, written to a recording file and
// read back: every cycle arrives exactly, then the blanking sequence, and
// the learned threshold never splits a cycle or the blanking.
TEST(CycleDecoder, RecordedRunGivesExactFramesOnSlowAndFastSenders)
{
    for (Nanoseconds yieldCost : {1us, 5us, 20us}) {
        SCOPED_TRACE(yieldCost.count());
        SenderStream stream(yieldCost);
        for (int i = 0; i < 30; ++i)
            stream.cycle(sampleCycle(i)).pause(kSenderWork);
        stream.blanking();

        std::string recording = recordingHeader();
        for (const auto& chunk : stream.chunks())
            recording +=
                recordingLine({std::chrono::duration_cast<std::chrono::microseconds>(chunk.arrival), chunk.bytes});
        std::istringstream in(recording);
        std::string error;
        const auto chunks = parseRecording(in, error);
        ASSERT_TRUE(chunks) << error;

        CycleDecoder decoder;
        EXPECT_EQ(decoder.silenceState(), CycleDecoder::SilenceState::Learning);
        std::vector<DecodedEvent> events;
        for (const RecordedChunk& chunk : *chunks)
            decoder.feed(chunk.bytes, chunk.offset, events);
        EXPECT_EQ(decoder.silenceState(), CycleDecoder::SilenceState::Learned);

        ASSERT_EQ(events.size(), 31U);
        for (int i = 0; i < 30; ++i) {
            const DecodedEvent& event = events[static_cast<std::size_t>(i)];
            EXPECT_EQ(event.kind, Kind::Cycle);
            EXPECT_EQ(event.sequence, static_cast<std::uint64_t>(i + 1));
            EXPECT_EQ(event.cycle, sampleCycle(i)) << "cycle " << i;
        }
        EXPECT_EQ(events.back().kind, Kind::Blanking);
        EXPECT_EQ(events.back().sequence, 31U);
        EXPECT_EQ(decoder.counts().cycles, 30U);
        EXPECT_EQ(decoder.counts().blankings, 1U);
        EXPECT_EQ(decoder.counts().resyncs, 0U);
        EXPECT_EQ(decoder.counts().bytes, 31U * wire::kCycleBytes);
        EXPECT_EQ(decoder.pendingBytes(), 0);
    }
}

// A byte lost anywhere in a cycle, then a silence: the partial cycle is
// dropped and the next cycle is decoded exactly.
TEST(CycleDecoder, LostByteFollowedByPauseResyncsAtNextCycle)
{
    for (int lost : {0, 7, 8, 63, 64, 83}) {
        SCOPED_TRACE(lost);
        SenderStream stream(5us);
        stream.cycle(sampleCycle(1)).pause(kSenderWork);
        stream.cycle(sampleCycle(2), lost).pause(200ms);
        stream.cycle(sampleCycle(3)).pause(kSenderWork);

        CycleDecoder decoder;
        const auto events = stream.decode(decoder);

        ASSERT_EQ(kinds(events), (std::vector{Kind::Cycle, Kind::Resync, Kind::Cycle}));
        EXPECT_EQ(events[0].cycle, sampleCycle(1));
        EXPECT_EQ(events[1].droppedBytes, static_cast<std::uint64_t>(wire::kCycleBytes - 1));
        EXPECT_EQ(events[1].sequence, 2U);
        EXPECT_EQ(events[2].cycle, sampleCycle(3));
        EXPECT_EQ(events[2].sequence, 2U);
        EXPECT_EQ(decoder.counts().resyncs, 1U);
        expectBytesAccountedFor(decoder, events);
    }
}

// A fast sender leaves no silence inside a run: a lost byte is noticed by
// the content, costs the cycle that lost it, and the count moves back in
// step (a realignment) for the next cycle, well before the blanking.
TEST(CycleDecoder, LostByteWithoutPauseCostsOnlyItsCycle)
{
    for (int lost : {0, 40, 63, 64, 83}) {
        SCOPED_TRACE(lost);
        SenderStream stream(1us);
        for (int i = 0; i < 20; ++i)
            stream.cycle(sampleCycle(i), i == 10 ? lost : -1).pause(kSenderWork);
        stream.blanking();

        CycleDecoder decoder;
        const auto events = stream.decode(decoder);

        ASSERT_EQ(events.size(), 21U);
        for (int i = 0; i < 20; ++i) {
            const DecodedEvent& event = events[static_cast<std::size_t>(i)];
            if (i == 10) {
                EXPECT_EQ(event.kind, Kind::Realign);
                EXPECT_EQ(event.sequence, 11U);
                continue;
            }
            EXPECT_EQ(event.kind, Kind::Cycle);
            EXPECT_EQ(event.cycle, sampleCycle(i)) << "cycle " << i;
        }
        EXPECT_EQ(events.back().kind, Kind::Blanking);
        EXPECT_EQ(decoder.counts().resyncs, 0U);
        EXPECT_EQ(decoder.counts().realignments, 1U);
        EXPECT_EQ(decoder.counts().droppedBytes, static_cast<std::uint64_t>(wire::kCycleBytes - 1));
        expectBytesAccountedFor(decoder, events);
    }
}

// Only 64 zero lamp bytes with 20 spaces are a blanking sequence; it
// lights no lamp and shows no text. A cycle that breaks the content rule is
// neither: it is not shown.
TEST(CycleDecoder, BlankingSequenceIsCountedApart)
{
    struct Case {
        const char* name;
        int lampIndex;  // set to lampValue, -1: none
        std::uint8_t lampValue;
        int textIndex;  // set to textChar, -1: none
        char textChar;
        std::optional<Kind> expected;  // none: not shown
    };
    const Case cases[] = {
        {"blanking", -1, 0, -1, ' ', Kind::Blanking},      {"one lamp lit", 63, 0x80, -1, ' ', Kind::Cycle},
        {"first lamp lit", 0, 0x01, -1, ' ', Kind::Cycle}, {"text not blank", -1, 0, 19, '.', Kind::Cycle},
        {"text of NULs", -1, 0, 0, '\0', std::nullopt},    {"lamp byte of no level", 5, 0x05, -1, ' ', std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wire::Cycle cycle = wire::blankCycle();
        if (c.lampIndex >= 0)
            cycle.lamps[static_cast<std::size_t>(c.lampIndex)] = c.lampValue;
        if (c.textIndex >= 0)
            cycle.text[static_cast<std::size_t>(c.textIndex)] = c.textChar;
        SenderStream stream(5us);
        stream.cycle(cycle);

        CycleDecoder decoder;
        const auto events = stream.decode(decoder);

        ASSERT_EQ(events.size(), c.expected ? 1U : 0U);
        EXPECT_EQ(decoder.counts().blankings, c.expected == Kind::Blanking ? 1U : 0U);
        EXPECT_EQ(decoder.counts().cycles, c.expected == Kind::Cycle ? 1U : 0U);
        if (c.expected == Kind::Blanking) {
            EXPECT_EQ(events[0].kind, Kind::Blanking);
            for (int row = 1; row <= wire::kRows; ++row)
                for (int column = 1; column <= wire::kColumns; ++column)
                    for (int lamp = 1; lamp <= 8; ++lamp)
                        EXPECT_FALSE(wire::lampLit(events[0].cycle.lamp(row, column), lamp));
            EXPECT_EQ(events[0].cycle.textView(), std::string(wire::kTextLength, ' '));
        }
    }
}

// A fixed threshold is used as given, whatever the stream looks like.
TEST(CycleDecoder, FixedThresholdDecidesWhichSilenceResyncs)
{
    struct Case {
        Nanoseconds threshold;
        Nanoseconds pauseInsideCycle;
        bool resyncs;
    };
    const Case cases[] = {{50ms, 40ms, false}, {50ms, 60ms, true}, {5ms, 6ms, true}, {500ms, 450ms, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pauseInsideCycle.count());
        const auto bytes = wire::encode(sampleCycle(4));
        SenderStream stream(5us);
        stream.raw({bytes.begin(), bytes.begin() + 30})
            .silence(c.pauseInsideCycle)
            .raw({bytes.begin() + 30, bytes.end()});

        CycleDecoder decoder(c.threshold);
        const auto events = stream.decode(decoder);

        EXPECT_EQ(decoder.silenceThreshold(), c.threshold);
        EXPECT_EQ(decoder.silenceState(), CycleDecoder::SilenceState::Fixed);
        EXPECT_EQ(decoder.counts().resyncs, c.resyncs ? 1U : 0U);
        EXPECT_EQ(decoder.counts().cycles, c.resyncs ? 0U : 1U);
        EXPECT_EQ(decoder.pendingBytes(), c.resyncs ? wire::kCycleBytes - 30 : 0);
    }
}

// A sender that hands a pty its bytes up to 30 ms ahead of the line, in a
// chunk every 5 ms, and stops for a while (it got no processor): the bytes
// are timed as the UART has them, so a stall shorter than the lead is no
// silence, and one longer is.
TEST(CycleDecoder, BytesHandedAheadOfTheLineLeaveNoSilenceUntilTheLeadRunsOut)
{
    for (const auto& [stall, resyncs] : {std::pair{0ms, 0U}, {20ms, 0U}, {80ms, 1U}}) {
        SCOPED_TRACE(stall.count());
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 12; ++i) {
            const auto cycle = wire::encode(sampleCycle(i));
            bytes.insert(bytes.end(), cycle.begin(), cycle.end());
        }
        SenderStream stream(1us);
        stream.raw({bytes.begin(), bytes.begin() + 173});  // the first 30 ms at once
        for (std::size_t sent = 173; sent < bytes.size(); sent += 29) {
            stream.pause(sent == 173 + 29 * 10 ? stall + 5ms : 5ms);
            const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(sent + 29, bytes.size()));
            stream.raw({bytes.begin() + static_cast<std::ptrdiff_t>(sent), end});
        }
        CycleDecoder decoder(10ms);
        stream.decode(decoder);
        EXPECT_EQ(decoder.counts().resyncs, resyncs);
        EXPECT_EQ(decoder.counts().cycles, 12U - resyncs);
    }
}

// Random bytes in random chunks and at random times never crash the
// decoder, every byte stays accounted for, and a well-formed cycle after a
// long silence comes out exactly.
TEST(CycleDecoder, GarbageNeverHidesACycleAfterAPause)
{
    for (unsigned seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto below = [&](int limit) { return static_cast<int>(random() % static_cast<unsigned>(limit)); };

        SenderStream stream(5us);
        const int chunks = below(40);
        for (int i = 0; i < chunks; ++i) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(1 + below(100)));
            for (auto& byte : bytes)
                byte = static_cast<std::uint8_t>(random());
            stream.raw(bytes).pause(std::chrono::microseconds(below(20000)));
        }
        stream.silence(kSilenceCeiling + 1ms).cycle(sampleCycle(static_cast<int>(seed)));

        CycleDecoder learned;
        CycleDecoder fixed(20ms);
        for (CycleDecoder* decoder : {&learned, &fixed}) {
            const auto events = stream.decode(*decoder);
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(events.back().kind, Kind::Cycle);
            EXPECT_EQ(events.back().cycle, sampleCycle(static_cast<int>(seed)));
            EXPECT_EQ(decoder->pendingBytes(), 0);
            expectBytesAccountedFor(*decoder, events);
        }
    }
}

}  // namespace
}  // namespace lumora::display
