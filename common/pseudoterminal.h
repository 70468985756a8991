// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal that stands in for a serial port: a sender opens its
// slave side (/dev/pts/N) exactly as it would a real port, and the owner
// reads what arrives on the master side.
//
// The slave is set raw (cfmakeraw: no CR/LF mapping, no XON/XOFF, no line
// editing, no echo) at 57600 baud, and the owner keeps a descriptor of it
// open: without one the master reports end of file (EIO, POLLHUP) whenever
// no sender has the slave open, before the first and after each one
// closes, and the raw settings would be lost between senders.
//
// Optionally a symbolic link with a stable name points at the slave; it is
// removed again with the pseudo-terminal if it still points there.
//
// Plain C++ and POSIX; owns its descriptors.
#pragma once

#include <memory>
#include <string>

namespace lumora {

class PseudoTerminal {
public:
    // A new pair; masterFlags are added to the master's open flags (such as
    // O_NONBLOCK). linkPath, if not empty, becomes a symbolic link to the
    // slave, replacing an older symbolic link of that name in one step but
    // never a file that is something else. Nothing, with `error` saying
    // why, on failure.
    static std::unique_ptr<PseudoTerminal> open(int masterFlags, const std::string& linkPath, std::string& error);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

private:
    PseudoTerminal() = default;

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_linkPath;
};

// "what: " and the text of errno, for a call on the pseudo-terminal that failed.
std::string describeErrno(const std::string& what);

}  // namespace lumora
