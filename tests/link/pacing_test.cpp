// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal's line, played by the sender, in its own time: how far
// ahead of the line the pty gets its bytes, when it starts afresh, and when
// the serial line hands it a batch. What lumora-display sees of a stalled
// sender rests on these.
#include "linepacer.h"
#include "pacedpty.h"
#include "wireformat.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using lumora::LinePacer;
using lumora::PacedPty;
using Clock = LinePacer::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;
namespace wire = lumora::wire;

// Bytes a 57600-baud line carries in `time`.
int bytesIn(Clock::duration time)
{
    return static_cast<int>(std::chrono::duration_cast<microseconds>(time).count() * wire::kLineBytesPerSecond /
                            1'000'000);
}

TEST(LinePacer, HandsBytesAtMostTheLeadAheadOfTheLine)
{
    const Clock::time_point t0{};
    struct Case {
        const char* what;
        void (*act)(LinePacer&, Clock::time_point);
        Clock::duration at;  // when due() is asked, from t0
        std::size_t queued;
        std::size_t due;
    };
    const Case cases[] = {
        {"a fresh line takes the lead's bytes and one",
         [](LinePacer&, Clock::time_point) {},
         {},
         1000,
         static_cast<std::size_t>(bytesIn(milliseconds(30)) + 1)},
        {"no more than are queued", [](LinePacer&, Clock::time_point) {}, {}, 10, 10},
        {"a line that has taken the lead takes the line's pace after",
         [](LinePacer& p, Clock::time_point t) { p.handed(p.due(t, 1000), false); }, milliseconds(10), 1000,
         static_cast<std::size_t>(bytesIn(milliseconds(40)) - bytesIn(milliseconds(30)))},
        {"idle time is no credit for a burst",
         [](LinePacer& p, Clock::time_point t) {
             p.handed(p.due(t, 5), false);
             p.restartIfIdle(t + milliseconds(500));
         },
         milliseconds(500), 1000, static_cast<std::size_t>(bytesIn(milliseconds(30)) + 1)},
        {"a reader that refused bytes resumes from now, not from its backlog",
         [](LinePacer& p, Clock::time_point t) {
             p.handed(p.due(t, 1000), false);
             p.handed(0, true);
         },
         milliseconds(500), 1000, static_cast<std::size_t>(bytesIn(milliseconds(30)) + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinePacer pacer(milliseconds(30));
        pacer.reset(t0);
        c.act(pacer, t0);
        EXPECT_EQ(pacer.due(t0 + c.at, c.queued), c.due);
    }
}

TEST(LinePacer, CountsWhatItHandedAheadAsWaiting)
{
    const Clock::time_point t0{};
    LinePacer pacer(milliseconds(30));
    pacer.reset(t0);
    pacer.handed(100, false);
    EXPECT_EQ(pacer.ahead(t0), 99);  // the first byte's time has begun
    EXPECT_EQ(pacer.ahead(t0 + milliseconds(10)), 100 - bytesIn(milliseconds(10)) - 1);
    EXPECT_EQ(pacer.ahead(t0 + milliseconds(100)), 0);
    // 50 more follow in their turn: 100 are on the line by then.
    const auto when = pacer.whenWaitingAtMost(49, 50);
    EXPECT_EQ(pacer.ahead(when), 0);
    EXPECT_GT(pacer.ahead(when - microseconds(200)), 0);
}

// The serial line hands a pty its bytes in batches: with the default
// buffer, one cycle's bytes when the pty's lead has room for them (or a
// little before, when the line is awake for a waiting write anyway), and
// never a byte while the lead is fuller than that.
TEST(PacedPty, HandsACyclesBytesAtATimeWhenTheLeadHasRoomForThem)
{
    const Clock::time_point t0{};
    for (const int buffer : {wire::kOutputBufferBytes, wire::kSmallestOutputBufferBytes}) {
        SCOPED_TRACE(buffer);
        PacedPty pty(buffer, t0);
        const int lead = std::min(bytesIn(PacedPty::kLead), buffer);
        const int batch = std::min(wire::kCycleBytes, buffer / 2);
        Clock::time_point now = t0;
        std::size_t queued = 10000;
        // Fill the lead.
        const std::size_t first = pty.due(now, queued, true);
        EXPECT_GE(first, static_cast<std::size_t>(lead));
        pty.handed(first, false, now);
        queued -= first;
        // Writes between wake-ups hand nothing while the lead is full.
        EXPECT_EQ(pty.due(now + milliseconds(1), queued, false), 0u);
        // The next batch is due when the lead has room for a batch.
        const Clock::time_point next = pty.nextHandOver(queued, now, Clock::time_point::max());
        EXPECT_LE(pty.waiting(next, false), static_cast<int>(first) - batch);
        EXPECT_EQ(pty.due(next - milliseconds(5), queued, false), 0u);
        const std::size_t second = pty.due(next, queued, false);
        EXPECT_GE(second, static_cast<std::size_t>(batch));
        EXPECT_EQ(pty.nextHandOver(0, next, Clock::time_point::max()), Clock::time_point::max())
            << "nothing queued, nothing to wake for";
        // A character written alone waits for a batch, or for the lead to
        // run low, even when the line is awake anyway.
        pty.handed(second, false, next);
        const Clock::time_point low = pty.nextHandOver(1, next, Clock::time_point::max());
        for (const bool awake : {false, true})
            EXPECT_EQ(pty.due(low - milliseconds(1), 1, awake), 0u) << "awake " << awake;
        EXPECT_EQ(pty.due(low, 1, true), 1u);
        EXPECT_LE(pty.waiting(low, false), (lead - batch) / 2);
        EXPECT_GT(pty.waiting(low, false), 0) << "the lead must not run dry";
    }
}

// One wake-up of the line a cycle at the default buffer: a line awake for a
// waiting write's refill tops the pty's lead up, so that the next batch
// falls due a batch's time later, with the next refill; and a batch due a
// little before the line wakes anyway waits for that wake-up.
TEST(PacedPty, BatchesRideOnTheRefillWakeUps)
{
    const Clock::time_point t0{};
    PacedPty pty(wire::kOutputBufferBytes, t0);
    std::size_t queued = 10000;
    const auto hand = [&](Clock::time_point at, bool awake) {
        const std::size_t n = pty.due(at, queued, awake);
        pty.handed(n, false, at);
        queued -= n;
        return n;
    };
    hand(t0, true);
    const Clock::time_point refill = t0 + milliseconds(6);
    EXPECT_EQ(pty.due(refill, queued, false), 0u) << "a write hands nothing while the lead holds more than a batch";
    EXPECT_GE(hand(refill, true), static_cast<std::size_t>(bytesIn(milliseconds(6)) - 1)) << "the refill tops it up";

    const Clock::duration batchTime = microseconds(wire::kCycleBytes * 1'000'000 / wire::kLineBytesPerSecond);
    const Clock::time_point next = pty.nextHandOver(queued, refill, Clock::time_point::max());
    EXPECT_LE(std::chrono::abs(next - (refill + batchTime)), microseconds(400)) << "due with the next refill";
    for (const auto& [awake, expected] :
         {std::pair{next + milliseconds(2), next + milliseconds(2)}, std::pair{next + milliseconds(5), next},
          std::pair{next - milliseconds(1), next}})
        EXPECT_EQ(pty.nextHandOver(queued, refill, awake), expected);
}

}  // namespace
