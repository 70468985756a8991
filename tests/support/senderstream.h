// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: the chunks a sender's writes turn into on the line, with
// arrival times, for a sender whose event-pump pass takes `yieldCost`.
#pragma once

#include "cycledecoder.h"
#include "wireformat.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace lumora::display::testing {

struct TimedChunk {
    std::vector<std::uint8_t> bytes;
    Nanoseconds arrival{};
};

class SenderStream {
public:
    explicit SenderStream(Nanoseconds yieldCost) : m_yieldCost(yieldCost) { }

    // A cycle's writes and pauses; `lostByte` (0..83) is dropped on the way.
    SenderStream& cycle(const wire::Cycle& cycle, int lostByte = -1)
    {
        return steps(wire::cycleSteps(cycle), lostByte);
    }
    SenderStream& blanking() { return steps(wire::blankingSteps()); }
    SenderStream& pause(Nanoseconds length)
    {
        m_now += length;
        return *this;
    }
    // The line falls silent for `length` once the bytes written so far have
    // gone out at the line rate.
    SenderStream& silence(Nanoseconds length)
    {
        m_now = std::max(m_now, m_lineFree) + length;
        return *this;
    }
    SenderStream& raw(std::vector<std::uint8_t> bytes)
    {
        push(std::move(bytes));
        return *this;
    }

    const std::vector<TimedChunk>& chunks() const { return m_chunks; }

    std::vector<DecodedEvent> decode(CycleDecoder& decoder) const
    {
        std::vector<DecodedEvent> events;
        for (const TimedChunk& chunk : m_chunks)
            decoder.feed(chunk.bytes, chunk.arrival, events);
        return events;
    }

private:
    SenderStream& steps(const std::vector<wire::Step>& steps, int lostByte = -1)
    {
        int offset = 0;
        for (const wire::Step& step : steps) {
            std::vector<std::uint8_t> bytes;
            for (std::uint8_t byte : step.bytes) {
                if (offset++ != lostByte)
                    bytes.push_back(byte);
            }
            if (!bytes.empty())
                push(bytes);
            m_now += m_yieldCost * step.yieldsAfter;
        }
        return *this;
    }

    void push(std::vector<std::uint8_t> bytes)
    {
        m_lineFree = std::max(m_now, m_lineFree) + kByteTime * static_cast<int>(bytes.size());
        m_chunks.push_back({std::move(bytes), m_now});
    }

    static constexpr Nanoseconds kByteTime{1'000'000'000 / wire::kLineBytesPerSecond};

    Nanoseconds m_yieldCost;
    Nanoseconds m_now = std::chrono::seconds(1);
    Nanoseconds m_lineFree{};
    std::vector<TimedChunk> m_chunks;
};

// A recognisable well-formed cycle: lamp bytes of levels 0..8 in both
// modes and printable text derived from `seed`. The bytes at the seams of
// the cycle (offsets 0, 63, 64, 83) never fit both a lamp and a character,
// so a count one byte off shows at the next seam.
inline wire::Cycle sampleCycle(int seed)
{
    wire::Cycle cycle;
    for (int i = 0; i < wire::kLampBytes; ++i) {
        const int level = (seed * 5 + i * 7) % (wire::kMaxLevel + 1);
        cycle.lamps[static_cast<std::size_t>(i)] = wire::levelLampByte(level, (seed + i) % 3 != 0);
    }
    for (int i = 0; i < wire::kTextLength; ++i)
        cycle.text[static_cast<std::size_t>(i)] = static_cast<char>('A' + (seed + i) % 26);
    cycle.lamps.front() = wire::levelLampByte(wire::kMaxLevel, true);
    cycle.lamps.back() = wire::levelLampByte(seed % 5, seed % 2 == 0);
    return cycle;
}

}  // namespace lumora::display::testing
