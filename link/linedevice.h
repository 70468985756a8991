// SPDX-License-Identifier: GPL-3.0-or-later
// What stands behind an open serial port, as the serial line feeds it:
//   - a UART (uart.h), whose driver keeps a queue that the line shifts out
//     at 57600 baud and that TIOCOUTQ reads;
//   - a pseudo-terminal (pacedpty.h), which has no line of its own: it is
//     handed each byte a little ahead of the moment a line would send it,
//     as a driver's queue holds bytes ahead of its UART.
// The serial line keeps its queue in front of the device, hands it the
// bytes the device says are due, and counts what the device holds among
// the bytes waiting for the wire.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

namespace lumora {

class LineDevice {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~LineDevice() = default;

    // How many zero bytes a run sends before its first cycle (wireformat.h).
    virtual int resetFillerBytes() const { return 0; }
    // How many of the `queued` bytes in front of the device to hand its
    // descriptor at `now`; 0: not yet. `awake`: the line woke for the device
    // or for a waiting write, rather than for a write that just came.
    virtual std::size_t due(Clock::time_point now, std::size_t queued, bool awake) = 0;
    // `count` bytes were handed at `now`; `refused`: the descriptor took
    // fewer than it was offered.
    virtual void handed(std::size_t count, bool refused, Clock::time_point now) = 0;
    // Bytes handed and not yet on the wire at `now`, at most. With `ask`,
    // a device that keeps a queue is asked again first (a system call);
    // without, the last answer counts, with what was handed since.
    virtual int waiting(Clock::time_point now, bool ask) = 0;
    // When no more than `target` bytes will wait, with `queued` bytes that
    // are not handed yet following in their turn.
    virtual Clock::time_point whenWaitingAtMost(int target, std::size_t queued, Clock::time_point now) const = 0;
    // When the device wants the next of `queued` bytes; Clock::time_point::max()
    // with none queued. The line wakes at `awake` anyway (max(): it does
    // not): a device that can wait for that moment says so, and one wake-up
    // serves both.
    virtual Clock::time_point nextHandOver(std::size_t queued, Clock::time_point now,
                                           Clock::time_point awake) const = 0;
    // Waits until the last byte handed has left the wire. False, with the
    // errno in `error`, when the device failed.
    virtual bool drain(int& error) = 0;
    // Drops what the device holds for the wire, as the port closes after a
    // failure; a closing port cannot block on a dead device then.
    virtual void discard() = 0;
};

// The device behind descriptor `fd`, a serial port opened for a line whose
// output buffer is `outputBufferBytes` (84..512).
std::unique_ptr<LineDevice> makeLineDevice(int fd, int outputBufferBytes, LineDevice::Clock::time_point now);

}  // namespace lumora
