// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated display's serial port: a pseudo-terminal whose slave side
// (/dev/pts/N) a sender opens exactly as it would a real port
// (pseudoterminal.h). The master side is read here, without blocking, and
// the sender's opens are watched, since a real board resets on them.
#pragma once

#include "pseudoterminal.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumora::sim {

class PtyLine {
public:
    // Creates the pair; linkPath, if not empty, becomes a symbolic link to
    // the slave. nullptr and a reason on failure.
    static std::unique_ptr<PtyLine> create(const std::string& linkPath, std::string& error);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slavePath() const { return m_pty->slavePath(); }

    // Whether a sender opened the port since the last call (an Uno or Nano
    // resets then: the USB-serial chip's DTR pulses the reset pin).
    bool takeOpened();

    // Waits up to `timeout` for bytes, then appends at most `limit` of those
    // waiting; with a `limit` of 0 it waits the whole `timeout`. False on a
    // read error (which `error` then names).
    bool read(std::vector<std::uint8_t>& bytes, std::size_t limit, std::chrono::microseconds timeout,
              std::string& error);

private:
    PtyLine() = default;
    std::unique_ptr<PseudoTerminal> m_pty;
    int m_openWatch = -1;  // inotify on the slave: IN_OPEN
};

}  // namespace lumora::sim
