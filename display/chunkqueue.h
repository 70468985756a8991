// SPDX-License-Identifier: GPL-3.0-or-later
// Hands the bytes read on a reader thread to the thread that decodes them.
//
// Each chunk carries the time its bytes arrived, taken on the reader thread
// right after the read, so a busy window cannot stretch the pauses the
// decoder measures. The queue holds at most `capacityBytes`; a reader that
// finds it full waits, which leaves the rest in the kernel's buffer and in
// the end slows the sender instead of growing without limit.
#pragma once

#include "cycledecoder.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumora::display {

struct Chunk {
    std::vector<std::uint8_t> bytes;
    Nanoseconds arrival{};
};

// Arrival times of live input: the monotonic clock.
Nanoseconds monotonicNow();

class ChunkQueue {
public:
    static constexpr std::size_t kDefaultCapacityBytes = 1 << 20;

    explicit ChunkQueue(std::size_t capacityBytes = kDefaultCapacityBytes);

    // Called on the reader's thread whenever the consumer should come and
    // take: after a push into an empty queue and after finish(). Set it
    // before any reader starts.
    void setWakeUp(std::function<void()> wakeUp);

    // Reader side. push() waits while the queue is full; it returns false
    // once the queue is closed (the reader should then stop).
    bool push(Chunk chunk);
    // No more input: a clean end when `error` is empty, else why.
    void finish(std::string error);

    // Consumer side.
    std::vector<Chunk> takeAll();
    bool empty() const;
    // True once the reader finished and every chunk was taken; `error` is
    // then empty for a clean end, else says why.
    bool inputEnded(std::string& error) const;
    // Releases a waiting reader; later pushes are refused.
    void close();

private:
    const std::size_t m_capacityBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_spaceFreed;
    std::vector<Chunk> m_chunks;
    std::size_t m_bytes = 0;
    bool m_closed = false;
    std::optional<std::string> m_finished;
    std::function<void()> m_wakeUp;
};

}  // namespace lumora::display
