// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace lumora::vbvis {

// The newest captured stereo frames, shared between one capture thread that
// writes and any number of callers that read.
//
// Samples are signed 16-bit, two channels (0 left, 1 right). Writers append
// interleaved frames; readers copy out the newest frames of one channel. The
// lock is held only while frames are copied (a few kilobytes at most), so a
// reader waits microseconds, never for the capture thread's I/O.
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
    // longer than the capacity keeps its newest frames.
    void write(std::span<const int16_t> interleaved);

    // Forgets everything: reads give zeros until the next write.
    void clear();

    // Copies the newest out.size() samples of the channel (0 or 1), oldest
    // first. Frames never written, or a stale ring, read as 0. Returns false
    // when nothing but zeros was copied that way (empty or stale ring).
    bool readNewest(int channel, std::span<int16_t> out) const;

    std::size_t capacity() const { return m_capacity; }

private:
    const std::size_t m_capacity;
    const std::chrono::milliseconds m_staleAfter;
    mutable std::mutex m_mutex;
    std::vector<int16_t> m_frames;  // interleaved, m_capacity frames
    std::size_t m_next = 0;         // frame index the next write goes to
    std::size_t m_filled = 0;       // frames written since the last clear, up to m_capacity
    Clock::time_point m_lastWrite{};
};

}  // namespace lumora::vbvis
