// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a recording back as if its bytes came in again.
//
// Every chunk carries its recorded arrival time (shifted to when the replay
// started), so the decoder sees the same pauses whether the replay waits
// for them or, with `fast`, sends everything at once. The file is read one
// line at a time while it plays, so its length costs no memory: the queue's
// capacity holds the reader back. Runs on a thread of its own and finishes
// the queue after the last chunk, or with "FILE: line N: ..." at a bad line
// (the chunks before it have been played).
#pragma once

#include "bytesource.h"
#include "recording.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

namespace lumora::display {

class ReplaySource : public ByteSource {
public:
    // Opens the recording and reads its header; nothing, with `error` set,
    // when the file cannot be read or is not a recording.
    static std::unique_ptr<ReplaySource> open(const std::string& path, bool fast, std::string& error);
    ~ReplaySource() override;

    void start(ChunkQueue& queue) override;
    std::string name() const override;

private:
    ReplaySource(std::string path, bool fast);
    void play(ChunkQueue& queue);

    std::string m_path;
    std::ifstream m_file;
    RecordingReader m_reader{m_file};
    bool m_fast;
    std::mutex m_mutex;
    std::condition_variable m_stopRequested;
    bool m_stop = false;
    ChunkQueue* m_queue = nullptr;
    std::thread m_player;
};

}  // namespace lumora::display
