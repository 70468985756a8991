// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal that a sender opens as if it were the serial port
// (pseudoterminal.h: raw, the slave held open, an optional stable link).
// Its master side is read on a thread of its own with poll().
#pragma once

#include "bytesource.h"
#include "pseudoterminal.h"

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
    std::string name() const override { return slavePath(); }
    const std::string& slavePath() const { return m_pty->slavePath(); }

private:
    PtySource() = default;
    void readLoop(ChunkQueue& queue);

    std::unique_ptr<PseudoTerminal> m_pty;
    int m_wakeRead = -1;  // a pipe that ends the reader
    int m_wakeWrite = -1;
    std::thread m_reader;
};

}  // namespace lumora::display
