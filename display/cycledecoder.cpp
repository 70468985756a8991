// SPDX-License-Identifier: GPL-3.0-or-later
#include "cycledecoder.h"

#include <algorithm>

namespace lumora::display {

CycleDecoder::CycleDecoder(std::optional<Nanoseconds> fixedSilence) : m_fixedSilence(fixedSilence)
{
}

Nanoseconds CycleDecoder::silenceThreshold() const
{
    return m_fixedSilence ? *m_fixedSilence : m_silence.threshold();
}

void CycleDecoder::feed(std::span<const std::uint8_t> bytes, Nanoseconds arrival, std::vector<DecodedEvent>& events)
{
    using Completed = wire::CycleReader::Completed;
    if (bytes.empty())
        return;
    const Nanoseconds pause = m_line.place(arrival, bytes.size()).silence;
    if (m_reader.pendingBytes() > 0) {
        if (pause > silenceThreshold())
            collect(m_reader.silence(), arrival, events);
        else
            m_silence.pauseInCycle(pause);
    }
    m_counts.bytes += bytes.size();

    for (std::uint8_t byte : bytes) {
        const Completed completed = m_reader.feed(byte);
        if (completed != Completed::Nothing)
            collect(completed, arrival, events);
    }
    collect(Completed::Nothing, arrival, events);
}

void CycleDecoder::collect(wire::CycleReader::Completed completed, Nanoseconds arrival,
                           std::vector<DecodedEvent>& events)
{
    using Completed = wire::CycleReader::Completed;
    const wire::CycleReader::Counts& now = m_reader.counts();
    // The reader's counters are 32 bits wide; their differences are exact.
    const std::uint32_t resyncs = now.resyncs - m_seen.resyncs;
    const std::uint32_t dropped = now.droppedBytes - m_seen.droppedBytes;
    m_counts.resyncs += resyncs;
    m_counts.realignments += now.realignments - m_seen.realignments;
    m_counts.droppedBytes += dropped;
    m_unreportedDrops += dropped;
    m_seen = now;
    if (resyncs == 0 && completed == Completed::Nothing)
        return;  // dropped bytes are reported with the next cycle or silence

    if (m_unreportedDrops > 0) {
        DecodedEvent skipped;
        skipped.kind = resyncs > 0 ? DecodedEvent::Kind::Resync : DecodedEvent::Kind::Realign;
        skipped.sequence = m_sequence + 1;
        skipped.droppedBytes = m_unreportedDrops;
        skipped.arrival = arrival;
        events.push_back(skipped);
        m_unreportedDrops = 0;
    }
    if (completed == Completed::Nothing) {
        m_silence.forgetPauses();
        return;
    }

    const std::uint8_t* bytes = m_reader.cycle();
    DecodedEvent event;
    event.cycle = wire::decode({bytes, static_cast<std::size_t>(wire::kCycleBytes)});
    event.sequence = ++m_sequence;
    event.arrival = arrival;
    if (completed == Completed::Blanking) {
        event.kind = DecodedEvent::Kind::Blanking;
        ++m_counts.blankings;
    } else {
        event.kind = DecodedEvent::Kind::Cycle;
        ++m_counts.cycles;
    }
    m_silence.cycleEnded(completed == Completed::Cycle);
    events.push_back(event);
}

}  // namespace lumora::display
