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
    const std::string header = recordingHeader();
    struct Case {
        std::string text;
        const char* error;  // empty: accepted
    };
    const Case cases[] = {
        {header + "# comment\n\n10 00ff\r\n20 0A0b\n", ""},
        {"# lumora-display recording 1\r\n10 00\n", ""},
        {header + "10 00ff\n5 01\n", "line 3: time goes backwards"},
        {header + "10\n", "line 2: expected '<microseconds> <hex bytes>'"},
        {header + "x1 00\n", "line 2: bad time 'x1'"},
        {header + "-1 00\n", "line 2: bad time '-1'"},
        {header + "1 0\n", "line 2: expected an even, non-zero number of hex digits"},
        {header + "1 \n", "line 2: expected an even, non-zero number of hex digits"},
        {header + "# a\n1 zz\n", "line 3: bad hex digit"},
        // Times up to a year; 16 to 19 digits would overflow as nanoseconds.
        {header + "31536000000000 00\n", ""},
        {header + "31536000000001 00\n", "line 2: time '31536000000001' is more than a year"},
        {header + "999999999999999999 00\n", "line 2: time '999999999999999999' is more than a year"},
        {header + "99999999999999999999 00\n", "line 2: bad time '99999999999999999999'"},
        // Only this format's own header opens a recording.
        {"10 00ff\n", "line 1: not a lumora-display recording (it must start with '# lumora-display recording 1')"},
        {"", "line 1: not a lumora-display recording (it must start with '# lumora-display recording 1')"},
        {"# lumora-display recording 2\n10 00\n",
         "line 1: not a lumora-display recording (it must start with '# lumora-display recording 1')"},
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
        EXPECT_EQ(options.has_value(), c.ok) << (c.arguments.empty() ? "" : c.arguments[0]) << ": " << error;
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

// Times before the clock's zero land in buckets of their own too.
TEST(RateMeter, CountsTimesBeforeZero)
{
    RateMeter meter;
    for (auto when = std::chrono::nanoseconds(-3s); when < 0s; when += 10ms)
        meter.add(when, 1);
    EXPECT_NEAR(meter.perSecond(-1ms), 100.0, 5.0);
    EXPECT_NEAR(meter.perSecond(1s), 50.0, 5.0);
}

}  // namespace
}  // namespace lumora::display
