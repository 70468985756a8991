// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated display's serial port: a pseudo-terminal whose slave side
// (/dev/pts/N) a sender opens exactly as it would a real port. The master
// side is read here, without blocking.
//
// The slave is kept open here too, in raw mode at 57600 baud, so that the
// line settings hold between the sender's opens and closes and the master
// never reports a hang-up.
#pragma once

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

    const std::string& slavePath() const { return m_slavePath; }

    // Whether a sender opened the port since the last call (an Uno or Nano
    // resets then: the USB-serial chip's DTR pulses the reset pin).
    bool takeOpened();

    // Waits up to `timeout` for bytes, then appends at most `limit` of those
    // waiting. False on a read error (which `error` then names).
    bool read(std::vector<std::uint8_t>& bytes, std::size_t limit, std::chrono::microseconds timeout,
              std::string& error);

private:
    PtyLine() = default;
    int m_master = -1;
    int m_slave = -1;
    int m_openWatch = -1;  // inotify on the slave: IN_OPEN
    std::string m_slavePath;
    std::string m_linkPath;
};

}  // namespace lumora::sim
