// SPDX-License-Identifier: GPL-3.0-or-later
#include "samplering.h"

#include <algorithm>

namespace lumora::vbvis {

SampleRing::SampleRing(std::size_t capacityFrames, std::chrono::milliseconds staleAfter)
    : m_capacity(std::max<std::size_t>(capacityFrames, 1)), m_staleAfter(staleAfter), m_frames(m_capacity * 2, 0)
{
}

void SampleRing::write(std::span<const int16_t> interleaved)
{
    append(interleaved, 1.0f);
}

void SampleRing::write(std::span<const float> interleaved, float scale)
{
    append(interleaved, scale);
}

template <typename Sample> void SampleRing::append(std::span<const Sample> interleaved, float scale)
{
    std::size_t frames = interleaved.size() / 2;
    const std::size_t all = frames;
    if (frames > m_capacity) {
        interleaved = interleaved.subspan((frames - m_capacity) * 2);
        frames = m_capacity;
    }
    std::lock_guard lock(m_mutex);
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t run = std::min(frames - done, m_capacity - m_next);
        const Sample* from = interleaved.data() + done * 2;
        float* to = m_frames.data() + m_next * 2;
        for (std::size_t i = 0; i < run * 2; ++i)
            to[i] = static_cast<float>(from[i]) * scale;
        done += run;
        m_next = (m_next + run) % m_capacity;
    }
    m_filled = std::min(m_capacity, m_filled + frames);
    m_written += all;
    m_lastWrite = Clock::now();
}

std::uint64_t SampleRing::framesWritten() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

void SampleRing::clear()
{
    std::lock_guard lock(m_mutex);
    m_filled = 0;
}

bool SampleRing::readNewest(int channel, std::span<float> out) const
{
    std::fill(out.begin(), out.end(), 0.0f);
    const std::size_t lane = channel == 0 ? 0 : 1;
    std::lock_guard lock(m_mutex);
    if (m_filled == 0 || Clock::now() - m_lastWrite > m_staleAfter)
        return false;
    const std::size_t count = std::min({out.size(), m_filled, m_capacity});
    // The newest frame sits just before m_next; copy the last `count` frames
    // into the tail of `out` so that the newest sample is out.back().
    // Two straight runs, up to the ring's end and from its start: a run
    // every cycle reads 6144 samples this way.
    const std::size_t first = (m_next + m_capacity - count) % m_capacity;
    const std::size_t beforeEnd = std::min(count, m_capacity - first);
    float* dest = out.data() + (out.size() - count);
    const float* from = m_frames.data() + first * 2 + lane;
    for (std::size_t i = 0; i < beforeEnd; ++i)
        dest[i] = from[2 * i];
    from = m_frames.data() + lane;
    for (std::size_t i = beforeEnd; i < count; ++i)
        dest[i] = from[2 * (i - beforeEnd)];
    return true;
}

}  // namespace lumora::vbvis
