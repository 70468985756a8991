// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace lumora::vbvis {

// The newest captured stereo frames, shared between the source that writes
// (its capture thread, or a call that takes the sound in, one at a time)
// and any number of callers that read.
//
// Samples are kept as floats in 16-bit units (a full-scale sine has an
// amplitude of 32767), two channels (0 left, 1 right), so that a source
// that delivers floats keeps the quiet detail that 16 bits would round
// away. Writers append interleaved frames; readers copy out the newest
// frames of one channel. The lock is held only while frames are copied (a
// few kilobytes at most), so a reader waits microseconds, never for the
// source's I/O.
//
// Frames older than the staleness limit count as silence: a source that stops
// delivering (a paused player, a lost server, a writer that went away) reads
// as zeros instead of its last sound frozen in place.
class SampleRing {
public:
    using Clock = std::chrono::steady_clock;

    // capacityFrames: how many newest frames are kept; at least the longest
    // read. staleAfter: age of the last write after which reads give zeros.
    explicit SampleRing(std::size_t capacityFrames = 8192,
                        std::chrono::milliseconds staleAfter = std::chrono::milliseconds(250));

    // Appends interleaved left/right frames (2 samples per frame). A write
    // longer than the capacity keeps its newest frames. Floats are in
    // 16-bit units divided by `scale` (32768 for samples of full scale 1).
    void write(std::span<const int16_t> interleaved);
    void write(std::span<const float> interleaved, float scale);

    // Forgets everything: reads give zeros until the next write.
    void clear();

    // Copies the newest out.size() samples of the channel (0 or 1), oldest
    // first. Frames never written, or a stale ring, read as 0. Returns false
    // when nothing but zeros was copied that way (empty or stale ring).
    bool readNewest(int channel, std::span<float> out) const;

    std::size_t capacity() const { return m_capacity; }
    // Frames written since the ring was made, clears and all: how much sound
    // has passed.
    std::uint64_t framesWritten() const;

private:
    template <typename Sample> void append(std::span<const Sample> interleaved, float scale);

    const std::size_t m_capacity;
    const std::chrono::milliseconds m_staleAfter;
    mutable std::mutex m_mutex;
    std::vector<float> m_frames;  // interleaved, m_capacity frames
    std::size_t m_next = 0;       // frame index the next write goes to
    std::size_t m_filled = 0;     // frames written since the last clear, up to m_capacity
    std::uint64_t m_written = 0;
    Clock::time_point m_lastWrite{};
};

}  // namespace lumora::vbvis
