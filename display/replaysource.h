// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a recording back as if its bytes came in again.
//
// Every chunk carries its recorded arrival time (shifted to when the replay
// started), so the decoder sees the same pauses whether the replay waits
// for them or, with `fast`, sends everything at once. Runs on a thread of
// its own and finishes the queue after the last chunk.
#pragma once

#include "bytesource.h"
#include "recording.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace lumora::display {

class ReplaySource : public ByteSource {
public:
    ReplaySource(std::string path, std::vector<RecordedChunk> chunks, bool fast);
    ~ReplaySource() override;

    void start(ChunkQueue& queue) override;
    std::string name() const override;

private:
    void play(ChunkQueue& queue);

    std::string m_path;
    std::vector<RecordedChunk> m_chunks;
    bool m_fast;
    std::mutex m_mutex;
    std::condition_variable m_stopRequested;
    bool m_stop = false;
    ChunkQueue* m_queue = nullptr;
    std::thread m_player;
};

}  // namespace lumora::display
