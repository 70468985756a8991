// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: the chunks a sender's writes turn into on the line, with
// arrival times, for a sender whose event-pump pass takes `yieldCost`.
#pragma once

#include "cycledecoder.h"
#include "wireformat.h"

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
    explicit SenderStream(Nanoseconds yieldCost) : m_yieldCost(yieldCost) {}

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
    SenderStream& raw(std::vector<std::uint8_t> bytes)
    {
        m_chunks.push_back({std::move(bytes), m_now});
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
                m_chunks.push_back({bytes, m_now});
            m_now += m_yieldCost * step.yieldsAfter;
        }
        return *this;
    }

    Nanoseconds m_yieldCost;
    Nanoseconds m_now = std::chrono::seconds(1);
    std::vector<TimedChunk> m_chunks;
};

// A recognisable cycle: lamp bytes and text derived from `seed`.
inline wire::Cycle sampleCycle(int seed)
{
    wire::Cycle cycle;
    for (int i = 0; i < wire::kLampBytes; ++i)
        cycle.lamps[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seed * 37 + i * 11 + 1);
    for (int i = 0; i < wire::kTextLength; ++i)
        cycle.text[static_cast<std::size_t>(i)] = static_cast<char>('A' + (seed + i) % 26);
    return cycle;
}

}  // namespace lumora::display::testing
