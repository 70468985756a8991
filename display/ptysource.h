// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal that a sender opens as if it were the serial port.
//
// The master side is read on a thread of its own with poll(). The slave is
// set raw (cfmakeraw) so that every byte passes unchanged: no CR/LF
// mapping, no XON/XOFF, no line editing, no echo. The source keeps a slave
// descriptor open itself: without it the master reports end of file (EIO,
// POLLHUP) whenever no writer has the slave open, before the first writer
// and after each one closes, and poll() would return at once, forever.
// With it, writers can come and go and the raw settings stay.
//
// Optionally a symbolic link with a stable name points at the slave; it is
// removed again when the source is destroyed.
#pragma once

#include "bytesource.h"

#include <memory>
#include <string>
#include <thread>

namespace lumora::display {

class PtySource : public ByteSource {
public:
    // A new pseudo-terminal, and the link if `linkPath` is not empty; or
    // nothing, with `error` saying why.
    static std::unique_ptr<PtySource> create(const std::string& linkPath, std::string& error);
    ~PtySource() override;

    void start(ChunkQueue& queue) override;
    std::string name() const override { return m_slavePath; }
    const std::string& slavePath() const { return m_slavePath; }

private:
    PtySource() = default;
    void readLoop(ChunkQueue& queue);

    int m_master = -1;
    int m_slave = -1;
    int m_wakeRead = -1;   // a pipe that ends the reader
    int m_wakeWrite = -1;
    std::string m_slavePath;
    std::string m_linkPath;
    std::thread m_reader;
};

}  // namespace lumora::display
