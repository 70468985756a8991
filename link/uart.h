// SPDX-License-Identifier: GPL-3.0-or-later
// A real serial port as the line's device: a UART whose driver keeps a
// queue, shifted out at 57600 baud. The driver takes what it has room for;
// TIOCOUTQ says how much it holds; tcdrain() waits until the UART's last
// stop bit has left.
//
// Opening the port has reset the board behind it, if it is an Uno or Nano,
// and its bootloader reads the line: a run here begins with the zero bytes
// that keep any picture byte away from it (wireformat.h).
#pragma once

#include "linedevice.h"

namespace lumora {

class Uart : public LineDevice {
public:
    Uart(int fd, int outputBufferBytes);

    int resetFillerBytes() const override;
    std::size_t due(Clock::time_point now, std::size_t queued, bool awake) override;
    void handed(std::size_t count, bool refused, Clock::time_point now) override;
    int waiting(Clock::time_point now, bool ask) override;
    Clock::time_point whenWaitingAtMost(int target, std::size_t queued, Clock::time_point now) const override;
    Clock::time_point nextHandOver(std::size_t queued, Clock::time_point now, Clock::time_point awake) const override;
    bool drain(int& error) override;
    void discard() override;

private:
    int m_fd;
    int m_retryBytes;       // after a refusal, try again once the line has taken this many
    int m_driverHolds = 0;  // as TIOCOUTQ last said, with what was handed since
    Clock::time_point m_refusedUntil{};
};

}  // namespace lumora
