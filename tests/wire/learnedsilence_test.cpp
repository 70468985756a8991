// SPDX-License-Identifier: GPL-3.0-or-later
// The learned silence threshold, in lumora-display's nanoseconds and in
// the display firmware's milliseconds (with its clock that wraps), on the
// host.
#include "learnedsilence.h"
#include "silencewatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace {

using namespace std::chrono_literals;
using Nanoseconds = std::chrono::nanoseconds;

// lumora-display's limits: 50 ms until a cycle is learned, 10..500 ms.
TEST(LearnedSilence, SixTimesTheLongestPauseOfTheRecentCyclesWithinItsLimits)
{
    using Silence = lumora::wire::LearnedSilence<Nanoseconds, 16>;
    struct Case {
        const char* what;
        std::vector<Nanoseconds> longestPerCycle;  // one ordinary cycle each
        Nanoseconds threshold;
    };
    const Case cases[] = {
        {"nothing learned yet", {}, 50ms},
        {"six times", {2ms, 3ms}, 18ms},
        {"the floor", {1ms}, 10ms},
        {"the ceiling", {200ms}, 500ms},
        {"a long pause 16 cycles ago is forgotten",
         {40ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms, 2ms},
         12ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Silence silence({50ms, 10ms, 500ms});
        for (const Nanoseconds longest : c.longestPerCycle) {
            silence.pauseInCycle(longest / 2);
            silence.pauseInCycle(longest);
            silence.cycleEnded(true);
        }
        EXPECT_EQ(silence.threshold(), c.threshold);
        // Neither a blanking's pauses nor pauses that ended in no cycle
        // teach anything.
        silence.pauseInCycle(80ms);
        silence.cycleEnded(false);
        silence.pauseInCycle(80ms);
        silence.forgetPauses();
        silence.cycleEnded(true);
        EXPECT_EQ(silence.threshold(), c.longestPerCycle.empty() ? 10ms : c.threshold)
            << "a blanking or forgotten pause was learned";
    }
}

// Feeds one cycle's worth of bytes from `startMs`, `pauseMs` apart, as an
// ordinary cycle or a blanking sequence; returns when its last byte came.
std::uint16_t cycle(SilenceWatch& watch, std::uint16_t startMs, std::uint16_t pauseMs, bool ordinary = true)
{
    std::uint16_t now = startMs;
    for (int i = 0; i < 28; ++i, now = static_cast<std::uint16_t>(now + pauseMs))
        EXPECT_FALSE(watch.byteAt(now)) << "a pause inside the cycle taken for a silence, byte " << i;
    watch.cycleEnded(ordinary);
    return static_cast<std::uint16_t>(now - pauseMs);
}

// Whether a pause of `pauseMs` after the byte at `lastMs` is a silence.
bool silenceAfter(SilenceWatch& watch, std::uint16_t lastMs, std::uint16_t pauseMs)
{
    return watch.byteAt(static_cast<std::uint16_t>(lastMs + pauseMs));
}

TEST(SilenceWatch, LearnsSixTimesTheLongestPauseWithinItsFloorAndCeiling)
{
    struct Case {
        std::uint16_t pauseInCycleMs;
        std::uint16_t thresholdMs;
    };
    const Case cases[] = {
        {1, SilenceWatch::kFloorMs},  // 6 ms would split a busy sender's cycles
        {30, 180},                    // six times
        {100, SilenceWatch::kCeilingMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pauseInCycleMs);
        SilenceWatch watch;
        std::uint16_t last = cycle(watch, 1000, c.pauseInCycleMs);
        last = cycle(watch, static_cast<std::uint16_t>(last + c.pauseInCycleMs), c.pauseInCycleMs);
        EXPECT_FALSE(silenceAfter(watch, last, c.thresholdMs));
        last = static_cast<std::uint16_t>(last + c.thresholdMs);
        EXPECT_TRUE(silenceAfter(watch, last, static_cast<std::uint16_t>(c.thresholdMs + 1)));
    }
}

TEST(SilenceWatch, StartsAtFiveHundredAndABlankingTeachesNothing)
{
    SilenceWatch watch;
    watch.listenFrom(0);
    EXPECT_FALSE(watch.tick(SilenceWatch::kInitialMs));
    EXPECT_TRUE(watch.tick(SilenceWatch::kInitialMs + 1)) << "a quiet line from the start";
    EXPECT_FALSE(watch.tick(SilenceWatch::kInitialMs + 2)) << "told once per silence";

    // A cycle with 10 ms pauses teaches 60 ms, which the floor makes 100;
    // the blanking's 40 ms pauses after it would teach 240, but teach
    // nothing.
    SilenceWatch taught;
    std::uint16_t last = cycle(taught, 2000, 10);
    last = cycle(taught, static_cast<std::uint16_t>(last + 10), 40, false);
    EXPECT_TRUE(silenceAfter(taught, last, 101)) << "the blanking's pauses raised the threshold";
}

TEST(SilenceWatch, MillisecondClockWrapsAfterSixtyFiveSeconds)
{
    SilenceWatch watch;
    const std::uint16_t last = cycle(watch, 65520, 1);  // its 28 bytes cross the wrap, at 65535 to 0
    EXPECT_FALSE(watch.tick(static_cast<std::uint16_t>(last + SilenceWatch::kFloorMs)));
    EXPECT_TRUE(watch.tick(static_cast<std::uint16_t>(last + SilenceWatch::kFloorMs + 1)));
}

}  // namespace
