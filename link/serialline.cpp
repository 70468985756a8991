// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialline.h"

#include "eventpump.h"
#include "portopening.h"

#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace lumora {

namespace {

std::string text(const QString& s)
{
    return s.toStdString();
}

// A write that finds the buffer full waits until this much is free: a
// cycle, so that a run wakes about once a cycle, and at most half the
// buffer, so that the line always has bytes left when it wakes.
int refillBytes(int bufferBytes)
{
    return std::min(wire::kCycleBytes, bufferBytes / 2);
}

}  // namespace

SerialLine::SerialLine(Yield yield, QObject* parent)
    : QObject(parent), m_yield(std::move(yield)), m_port(new QSerialPort(this)), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { pump(true); });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && m_port->isOpen())
            remember(
                Failure(error == QSerialPort::ResourceError ? FailureNumber::PortGone : FailureNumber::PortWriteFailed,
                        text(m_device) + ": " + text(m_port->errorString())));
    });
}

SerialLine::~SerialLine()
{
    if (m_port->isOpen())
        shutDown();
}

QString SerialLine::defaultDevice(int portNumber)
{
    if (portNumber < 1)
        return {};
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

QString SerialLine::device() const
{
    if (m_portNumber == 1 && !m_portOneDevice.isEmpty())
        return m_portOneDevice;
    return defaultDevice(m_portNumber);
}

void SerialLine::setOutputBufferBytes(int bytes)
{
    if (bytes < wire::kSmallestOutputBufferBytes || bytes > wire::kOutputBufferBytes)
        throw Failure(FailureNumber::Internal, "an output buffer of " + std::to_string(bytes) + " bytes is outside " +
                                                   std::to_string(wire::kSmallestOutputBufferBytes) + ".." +
                                                   std::to_string(wire::kOutputBufferBytes));
    m_outputBufferBytes = bytes;
}

bool SerialLine::isOpen() const
{
    return m_port->isOpen();
}

void SerialLine::open()
{
    const QString configured = device();
    if (m_port->isOpen())
        throw Failure(FailureNumber::PortNotOpen, text(m_device) + ": port already open", text(configured));
    if (configured.isEmpty())
        throw Failure(FailureNumber::PortNotOpen, "port number " + std::to_string(m_portNumber) + ": names no device");
    m_failure.reset();
    m_device = openDisplayPort(*m_port, configured);
    m_queue.clear();
    m_lineDevice = makeLineDevice(m_port->handle(), m_outputBufferBytes, Clock::now());
    const std::vector<std::uint8_t> filler(static_cast<std::size_t>(m_lineDevice->resetFillerBytes()),
                                           wire::kResetFillerByte);
    write(filler);
}

void SerialLine::throwUnlessOpen()
{
    throwIfFailed();
    if (!m_port->isOpen())
        throw Failure(FailureNumber::PortNotOpen, text(device()) + ": port not open");
}

void SerialLine::write(std::span<const std::uint8_t> bytes)
{
    throwUnlessOpen();
    m_lastProgress = Clock::now();
    while (!bytes.empty()) {
        int room = m_outputBufferBytes - waiting(false);
        if (room <= 0)
            room = m_outputBufferBytes - waiting(true);
        if (room > 0) {
            const auto n = std::min(bytes.size(), static_cast<std::size_t>(room));
            m_queue.insert(m_queue.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            bytes = bytes.subspan(n);
            pump(false);
            throwIfFailed();
            m_lastWaiting = waiting(false);
        } else {
            waitUntilWaitingAtMost(m_outputBufferBytes - refillBytes(m_outputBufferBytes));
        }
    }
}

void SerialLine::waitForRoom(int bytes)
{
    throwUnlessOpen();
    const int target = m_outputBufferBytes - std::clamp(bytes, 1, m_outputBufferBytes);
    if (waiting(false) <= target || waiting(true) <= target)
        return;
    m_lastProgress = Clock::now();
    m_lastWaiting = waiting(false);
    waitUntilWaitingAtMost(target);
}

// Bytes written and not on the wire: the queue and what the device holds.
int SerialLine::waiting(bool ask)
{
    if (!m_port->isOpen() || !m_lineDevice)
        return 0;
    return static_cast<int>(m_queue.size()) + m_lineDevice->waiting(Clock::now(), ask);
}

// Hands the device what is due and sets the timer for the next moment the
// line needs attention. Never throws (it runs from the timer); a failure is
// remembered.
void SerialLine::pump(bool awake)
{
    if (!m_port->isOpen() || m_failure || !m_lineDevice) {
        m_timer->stop();
        return;
    }
    const auto now = Clock::now();
    const std::size_t n = m_lineDevice->due(now, m_queue.size(), awake);
    if (n > 0) {
        std::array<std::uint8_t, wire::kOutputBufferBytes> chunk{};
        std::copy_n(m_queue.begin(), n, chunk.begin());
        ssize_t written = ::write(m_port->handle(), chunk.data(), n);
        if (written < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                remember(writeFailure(m_device, errno));
                return;
            }
            written = 0;
        }
        m_queue.erase(m_queue.begin(), m_queue.begin() + written);
        m_lineDevice->handed(static_cast<std::size_t>(written), static_cast<std::size_t>(written) < n, now);
    }
    arm(now);
}

// The one timer: the device's next hand-over or a waiting write's wake,
// whichever comes first. Qt's timers count whole milliseconds: rounded up.
void SerialLine::arm(Clock::time_point now)
{
    const Clock::time_point next = std::min(m_lineDevice->nextHandOver(m_queue.size(), now, m_wakeAt), m_wakeAt);
    if (next == Clock::time_point::max()) {
        m_timer->stop();
        return;
    }
    const auto ms =
        std::max<std::chrono::milliseconds::rep>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
    if (!m_timer->isActive() || m_timer->remainingTime() != ms)
        m_timer->start(static_cast<int>(ms));
}

// Waits until no more than `target` bytes wait for the line: yields, then
// sleeps in the event loop until the line should have taken enough or an
// event comes. Throws when the port failed or the line took nothing for the
// stall limit.
void SerialLine::waitUntilWaitingAtMost(int target)
{
    for (;;) {
        pump(true);
        if (m_yield)
            m_yield();
        throwIfFailed();
        const int waitingNow = waiting(true);
        if (waitingNow <= target)
            break;
        const auto now = Clock::now();
        if (waitingNow < m_lastWaiting) {
            m_lastProgress = now;
        } else if (now - m_lastProgress > m_stallLimit) {
            remember(Failure(FailureNumber::PortWriteFailed, text(m_device) + ": the device has taken no byte for " +
                                                                 std::to_string(m_stallLimit.count()) + " ms (" +
                                                                 std::to_string(waitingNow) + " bytes waiting)"));
            throwIfFailed();
        }
        m_lastWaiting = waitingNow;
        // When the line should have taken enough. A device past that time
        // has a reader that stopped, or a UART held: look again later, and
        // in time to notice a stall.
        Clock::time_point wake = m_lineDevice->whenWaitingAtMost(target, m_queue.size(), now);
        if (wake <= now)
            wake = now + std::chrono::milliseconds(10);
        m_wakeAt = std::min(wake, m_lastProgress + m_stallLimit + std::chrono::milliseconds(1));
        arm(now);
        EventPump::sleep();
    }
    m_wakeAt = Clock::time_point::max();
    arm(Clock::now());
}

// Keeps the first failure and stops all further traffic, so a dead device is
// not retried on every pass of the event pump. Never throws: this may run
// inside a slot.
void SerialLine::remember(Failure failure)
{
    if (!m_failure)
        m_failure.emplace(std::move(failure));
    m_queue.clear();
    m_timer->stop();
}

void SerialLine::throwIfFailed()
{
    if (!m_failure)
        return;
    Failure failure = *m_failure;
    m_failure.reset();
    m_wakeAt = Clock::time_point::max();
    shutDown();
    throw failure;
}

void SerialLine::close()
{
    throwIfFailed();
    if (!m_port->isOpen())
        return;
    try {
        m_lastProgress = Clock::now();
        m_lastWaiting = waiting(true);
        if (m_lastWaiting > 0)
            waitUntilWaitingAtMost(0);
        // QSerialPort puts the port's old settings (speed included) back
        // the moment it closes: the last stop bit must have left by then.
        int error = 0;
        if (!m_lineDevice->drain(error))
            remember(writeFailure(m_device, error));
        throwIfFailed();
    } catch (...) {
        shutDown();
        throw;
    }
    shutDown();
}

// Closes the port at once; what has not reached the wire is dropped, so that
// closing a stalled or dead device cannot block.
void SerialLine::shutDown()
{
    m_timer->stop();
    m_queue.clear();
    if (m_port->isOpen()) {
        if (m_lineDevice)
            m_lineDevice->discard();
        m_port->close();
    }
    m_lineDevice.reset();
}

}  // namespace lumora
