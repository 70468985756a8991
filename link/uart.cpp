// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart.h"

#include "devicefiles.h"
#include "pacedpty.h"
#include "wireformat.h"

#include <algorithm>
#include <cerrno>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace lumora {

namespace {

LineDevice::Clock::duration lineTime(int bytes)
{
    return std::chrono::microseconds(static_cast<std::int64_t>(std::max(bytes, 0)) * 1'000'000 /
                                     wire::kLineBytesPerSecond);
}

}  // namespace

std::unique_ptr<LineDevice> makeLineDevice(int fd, int outputBufferBytes, LineDevice::Clock::time_point now)
{
    struct stat st { };
    if (::fstat(fd, &st) == 0 && isPtySlave(st))
        return std::make_unique<PacedPty>(outputBufferBytes, now);
    return std::make_unique<Uart>(fd, outputBufferBytes);
}

Uart::Uart(int fd, int outputBufferBytes) : m_fd(fd), m_retryBytes(std::max(1, outputBufferBytes / 8))
{
}

int Uart::resetFillerBytes() const
{
    return wire::kResetFillerBytes;
}

std::size_t Uart::due(Clock::time_point now, std::size_t queued, bool)
{
    return now < m_refusedUntil ? 0 : queued;
}

void Uart::handed(std::size_t count, bool refused, Clock::time_point now)
{
    m_driverHolds += static_cast<int>(count);
    m_refusedUntil = refused ? now + lineTime(m_retryBytes) : Clock::time_point{};
}

int Uart::waiting(Clock::time_point, bool ask)
{
    int queued = 0;
    if (ask && ::ioctl(m_fd, TIOCOUTQ, &queued) == 0)
        m_driverHolds = queued;
    return m_driverHolds;
}

LineDevice::Clock::time_point Uart::whenWaitingAtMost(int target, std::size_t queued, Clock::time_point now) const
{
    return now + lineTime(m_driverHolds + static_cast<int>(queued) - target);
}

LineDevice::Clock::time_point Uart::nextHandOver(std::size_t queued, Clock::time_point now, Clock::time_point) const
{
    if (queued == 0)
        return Clock::time_point::max();
    return std::max(now, m_refusedUntil);
}

void Uart::discard()
{
    if (waiting(Clock::now(), true) > 0)
        ::tcflush(m_fd, TCOFLUSH);
}

bool Uart::drain(int& error)
{
    // The driver's queue is empty now, but the UART may still be shifting
    // out the last bytes of its own FIFO. It cannot hang on a dead device:
    // with the queue empty it waits only for the FIFO, which the kernel
    // bounds by the FIFO's time on the line for built-in ports, and USB
    // adapters end the wait when they report their transmitter empty or
    // stop answering.
    while (::tcdrain(m_fd) != 0) {
        if (errno != EINTR) {
            error = errno;
            return false;
        }
    }
    return true;
}

}  // namespace lumora
