// SPDX-License-Identifier: GPL-3.0-or-later
#include "cycledecoder.h"

#include <algorithm>

namespace lumora::display {

CycleDecoder::CycleDecoder(std::optional<Nanoseconds> fixedSilence)
    : m_fixedSilence(fixedSilence)
{
}

Nanoseconds CycleDecoder::silenceThreshold() const
{
    if (m_fixedSilence)
        return *m_fixedSilence;
    if (m_learnedCycles == 0)
        return kInitialSilence;
    const auto known = static_cast<std::ptrdiff_t>(
        std::min<std::uint64_t>(m_learnedCycles, kLearningCycles));
    const Nanoseconds longest =
        *std::max_element(m_recentPauses.begin(), m_recentPauses.begin() + known);
    return std::clamp(longest * kSilenceFactor, kSilenceFloor, kSilenceCeiling);
}

void CycleDecoder::feed(std::span<const std::uint8_t> bytes, Nanoseconds arrival,
                        std::vector<DecodedEvent>& events)
{
    if (bytes.empty())
        return;
    if (m_lastArrival && m_pending > 0) {
        const Nanoseconds pause = arrival - *m_lastArrival;
        if (pause > silenceThreshold()) {
            ++m_counts.resyncs;
            DecodedEvent resync;
            resync.kind = DecodedEvent::Kind::Resync;
            resync.sequence = m_sequence + 1;
            resync.droppedBytes = m_pending;
            resync.arrival = arrival;
            events.push_back(resync);
            m_pending = 0;
        } else {
            m_longestPauseInCycle = std::max(m_longestPauseInCycle, pause);
        }
    }
    m_lastArrival = arrival;
    m_counts.bytes += bytes.size();

    for (std::uint8_t byte : bytes) {
        if (m_pending == 0)
            m_longestPauseInCycle = Nanoseconds::zero();
        m_bytes[static_cast<std::size_t>(m_pending++)] = byte;
        if (m_pending == wire::kCycleBytes)
            completeCycle(arrival, events);
    }
}

void CycleDecoder::completeCycle(Nanoseconds arrival, std::vector<DecodedEvent>& events)
{
    DecodedEvent event;
    event.cycle = wire::decode(m_bytes);
    event.sequence = ++m_sequence;
    event.arrival = arrival;
    if (wire::isBlanking(event.cycle)) {
        event.kind = DecodedEvent::Kind::Blanking;
        ++m_counts.blankings;
    } else {
        event.kind = DecodedEvent::Kind::Cycle;
        ++m_counts.cycles;
        // The blanking's own pauses are four times longer than a cycle's;
        // learning from them would hide the next hold-off.
        m_recentPauses[static_cast<std::size_t>(m_learnedCycles % kLearningCycles)] =
            m_longestPauseInCycle;
        ++m_learnedCycles;
    }
    events.push_back(event);
    m_pending = 0;
}

}  // namespace lumora::display
