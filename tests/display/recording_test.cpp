// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"
#include "ratemeter.h"
#include "recording.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lumora::display {
namespace {

using namespace std::chrono_literals;

TEST(Recording, EveryByteValueAndTimeSurvivesAWriteAndRead)
{
    std::vector<RecordedChunk> chunks;
    for (int value = 0; value < 256; value += 16) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 16; ++i)
            bytes.push_back(static_cast<std::uint8_t>(value + i));
        chunks.push_back({std::chrono::microseconds(value * 1000 + 7), bytes});
    }
    chunks.push_back({std::chrono::microseconds(86'400'000'000LL), {0x0a}});  // a day later
    std::string text = recordingHeader();
    for (const auto& chunk : chunks)
        text += recordingLine(chunk);

    std::istringstream in(text);
    std::string error;
    const auto read = parseRecording(in, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(*read, chunks);
}

TEST(Recording, MalformedLinesAreRejectedWithTheirLineNumber)
{
    struct Case {
        const char* text;
        const char* error;  // empty: accepted
    };
    const Case cases[] = {
        {"# comment\n\n10 00ff\r\n20 0A0b\n", ""},
        {"10 00ff\n5 01\n", "line 2: time goes backwards"},
        {"10\n", "line 1: expected '<microseconds> <hex bytes>'"},
        {"x1 00\n", "line 1: bad time 'x1'"},
        {"-1 00\n", "line 1: bad time '-1'"},
        {"1 0\n", "line 1: expected an even, non-zero number of hex digits"},
        {"1 \n", "line 1: expected an even, non-zero number of hex digits"},
        {"# a\n1 zz\n", "line 2: bad hex digit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::istringstream in(c.text);
        std::string error;
        const auto read = parseRecording(in, error);
        EXPECT_EQ(read.has_value(), std::string(c.error).empty());
        EXPECT_EQ(error, c.error);
    }
}

TEST(Options, ArgumentsAreCheckedForConflictsAndRanges)
{
    struct Case {
        std::vector<std::string> arguments;
        bool ok;
    };
    const Case cases[] = {
        {{}, true},
        {{"--headless", "--print-cycles", "--quit-after-blankings", "2", "--link", "/tmp/x"}, true},
        {{"--replay", "a.rec", "--fast", "--silence-ms", "40", "--record", "b.rec"}, true},
        {{"--port", "/dev/ttyUSB0"}, true},
        {{"--port", "/dev/ttyUSB0", "--replay", "a.rec"}, false},
        {{"--port", "/dev/ttyUSB0", "--link", "/tmp/x"}, false},
        {{"--fast"}, false},
        {{"--silence-ms", "0"}, false},
        {{"--silence-ms", "12ms"}, false},
        {{"--quit-after-blankings"}, false},
        {{"--quit-after-blankings", "-1"}, false},
        {{"--record", ""}, false},
        {{"--colour"}, false},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto options = parseOptions(c.arguments, error);
        EXPECT_EQ(options.has_value(), c.ok) << (c.arguments.empty() ? "" : c.arguments[0]) << ": "
                                             << error;
        EXPECT_EQ(error.empty(), c.ok);
    }
    std::string error;
    const auto options = parseOptions({"--silence-ms", "40", "--quit-after-blankings", "3"}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->silenceMs, 40);
    EXPECT_EQ(options->quitAfterBlankings, 3U);
}

TEST(RateMeter, AveragesTheLastTwoSecondsAndFallsToZeroWhenQuiet)
{
    RateMeter meter;
    const auto start = std::chrono::nanoseconds(10s);
    for (int i = 0; i < 300; ++i)  // 30 per 100 ms for 3 s: 300 per second
        meter.add(start + i * 10ms, 3);
    EXPECT_NEAR(meter.perSecond(start + 3s), 300.0, 20.0);
    EXPECT_NEAR(meter.perSecond(start + 4s), 150.0, 20.0);
    EXPECT_EQ(meter.perSecond(start + 10s), 0.0);
}

}  // namespace
}  // namespace lumora::display
