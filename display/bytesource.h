// SPDX-License-Identifier: GPL-3.0-or-later
// Where the bytes come from: a pseudo-terminal, a serial port or a
// recording. A source reads on a thread of its own and hands what it reads,
// with arrival times, to a ChunkQueue; it calls finish() on the queue when
// its input ends or fails.
#pragma once

#include "chunkqueue.h"

namespace lumora::display {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Starts reading into `queue`, which must outlive the source.
    virtual void start(ChunkQueue& queue) = 0;
    // What the window and the messages call this source.
    virtual std::string name() const = 0;
};

}  // namespace lumora::display
