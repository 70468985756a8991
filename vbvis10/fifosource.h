// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audiosource.h"

#include <string>

namespace lumora::vbvis {

// Reads raw signed 16-bit little-endian stereo frames at 44100 Hz from a
// named pipe, the way a music player's fifo output writes them. The writer
// sets the pace; frames go into the ring as soon as they arrive.
//
// The pipe is opened without blocking, so the source attaches even while no
// writer is there. When the writer goes away the pipe is reopened and waits
// for the next one, which may come and go any number of times; meanwhile
// the ring goes stale and reads as silence. Paused (see Demand), it keeps
// reading so that the writer never blocks, and drops what it reads.
class FifoSource final : public AudioSource {
public:
    FifoSource(SampleRing& ring, std::string path);
    ~FifoSource() override;
    bool start(std::string& error) override;

private:
    void run(std::stop_token stop);
    bool reopen();

    SampleRing& m_ring;
    std::string m_path;
    int m_fd = -1;
    int m_wake[2]{-1, -1};  // self-pipe: the destructor writes to end the poll
    std::jthread m_thread;
};

}  // namespace lumora::vbvis
