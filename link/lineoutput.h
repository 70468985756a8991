// SPDX-License-Identifier: GPL-3.0-or-later
// What a streaming run writes to: the serial line (SerialLine), or in a test
// a recorder. Two things matter to the run: the bytes, in order, and the
// close after the blanking, which lets the last of them go out first.
#pragma once

#include <cstdint>
#include <span>

namespace lumora {

class LineOutput {
public:
    virtual ~LineOutput() = default;

    // Each byte goes out as exactly its value, in order. May wait for room;
    // throws lumora::Failure when the output fails.
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    // Everything written goes out, then the output is closed.
    virtual void close() = 0;

    // Waits, as a write that finds no room would, until `bytes` could be
    // written at once, so that the run takes the music for a cycle just
    // before the cycle can go out. An output that never waits has nothing
    // to do.
    virtual void waitForRoom(int bytes) { (void)bytes; }
};

}  // namespace lumora
