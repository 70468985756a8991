// SPDX-License-Identifier: GPL-3.0-or-later
// When a UART on the line has each byte of chunks a reader got early or late.
#include "receivedline.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumora::wire {
namespace {

using namespace std::chrono_literals;
using Nanoseconds = std::chrono::nanoseconds;

TEST(ReceivedLine, ChunksAreLaidOnTheLineOneByteTimeApart)
{
    struct Chunk {
        Nanoseconds arrival;
        std::size_t bytes;
        Nanoseconds firstByte;  // expected
        Nanoseconds silence;    // expected
    };
    // 84 bytes take 14583333 ns at 5760 bytes per second.
    const std::vector<Chunk> chunks{
        {0ms, 84, 0ms, 0ns},                             // the first chunk begins as it arrives
        {5ms, 84, 14583333ns, 0ns},                      // early: after the previous one's bytes
        {20ms, 1, 29166666ns, 0ns},                      // still early
        {40ms, 10, 40ms, 40ms - 29166666ns - 173611ns},  // late: a silence before it
        {40ms + 1736111ns, 5, 40ms + 1736111ns, 0ns},    // just as the line is free
    };
    ReceivedLine line;
    for (const Chunk& c : chunks) {
        SCOPED_TRACE(c.arrival.count());
        const ReceivedLine::Placed placed = line.place(c.arrival, c.bytes);
        EXPECT_EQ(placed.firstByte, c.firstByte);
        EXPECT_EQ(placed.silence, c.silence);
    }
    EXPECT_EQ(ReceivedLine::byteBegins(10ms, 5760), 1010ms);
}

// A second's worth of single bytes handed over at once ends exactly a
// second later: the byte times do not add up rounding errors.
TEST(ReceivedLine, ALongStretchKeepsExactTime)
{
    ReceivedLine line;
    for (int i = 0; i < kLineBytesPerSecond; ++i)
        line.place(0ns, 1);
    EXPECT_EQ(line.place(0ns, 1).firstByte, 1s);
    EXPECT_EQ(line.place(3s, 1).silence, 3s - 1s - 173611ns);
}

}  // namespace
}  // namespace lumora::wire
