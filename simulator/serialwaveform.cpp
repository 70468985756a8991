// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialwaveform.h"

#include <algorithm>

namespace lumora::sim {

void SerialWaveform::send(std::uint8_t byte, double cycle)
{
    const double start = std::max(cycle, m_freeAt);
    m_frames.push_back({start, byte});
    m_freeAt = start + kFrameBits * m_lineBit;
}

std::size_t SerialWaveform::waitingAt(double cycle) const
{
    return static_cast<std::size_t>(
        std::count_if(m_frames.begin(), m_frames.end(), [cycle](const Frame& f) { return f.start > cycle; }));
}

bool SerialWaveform::level(double cycle) const
{
    for (const Frame& frame : m_frames) {
        if (cycle < frame.start)
            return true;
        const int bit = static_cast<int>((cycle - frame.start) / m_lineBit);
        if (bit >= kFrameBits)
            continue;
        if (bit == 0)
            return false;
        if (bit == kFrameBits - 1)
            return true;
        return ((frame.byte >> (bit - 1)) & 1) != 0;
    }
    return true;
}

// Every frame's start bit, and every data bit 0 that follows a 1.
bool SerialWaveform::nextFallingEdge(double from, double& edge) const
{
    for (const Frame& frame : m_frames) {
        if (frame.start >= from) {
            edge = frame.start;
            return true;
        }
        for (int bit = 1; bit < 8; ++bit) {
            const double at = frame.start + (bit + 1) * m_lineBit;
            if (at >= from && ((frame.byte >> (bit - 1)) & 1) && !((frame.byte >> bit) & 1)) {
                edge = at;
                return true;
            }
        }
    }
    return false;
}

std::optional<SerialWaveform::Reception> SerialWaveform::receive(double from, double bitCycles) const
{
    double edge = 0;
    while (nextFallingEdge(from, edge)) {
        if (level(edge + bitCycles / 2)) {  // too short for a start bit
            from = edge + bitCycles / 2;
            continue;
        }
        std::uint8_t byte = 0;
        for (int i = 0; i < 8; ++i) {
            if (level(edge + (1.5 + i) * bitCycles))
                byte = static_cast<std::uint8_t>(byte | 1U << i);
        }
        const double stop = edge + (kFrameBits - 0.5) * bitCycles;
        return Reception{stop, byte, !level(stop)};
    }
    return std::nullopt;
}

std::size_t SerialWaveform::dropEndedBy(double cycle)
{
    std::size_t dropped = 0;
    while (!m_frames.empty() && m_frames.front().start + kFrameBits * m_lineBit <= cycle) {
        m_frames.pop_front();
        ++dropped;
    }
    return dropped;
}

}  // namespace lumora::sim
