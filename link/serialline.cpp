// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialline.h"

#include "devicefiles.h"
#include "eventpump.h"
#include "serialports.h"
#include "wireformat.h"

#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace lumora {

namespace {

// How far ahead of the line a pty may have its bytes: stalls of the sender
// shorter than this leave no silence on the line (the reader plays the
// UART). Kept short, because a reader that shows bytes on arrival shows
// them this much early.
constexpr auto kPtyLead = std::chrono::milliseconds(30);

// Period of the pacing timer; each tick hands over the bytes whose time on
// the line is less than kPtyLead away, so the lead stays between 20 and
// 30 ms. Between ticks a write hands its bytes over at once only when the
// line would otherwise fall idle before the next tick: with the default
// buffer the reader wakes about a hundred times a second, not at every
// write. A buffer of less than 1.5 ticks (86 bytes) never keeps the line
// busy that long, so there every write goes over at once, and all that
// waits is on the line, where a stall of the sender cannot reach it.
constexpr auto kPacingTick = std::chrono::milliseconds(10);
constexpr int kBusyEnoughBytes = wire::kLineBytesPerSecond * 15 / 1000;  // 1.5 ticks

// A write that finds the buffer full waits until this share of it is free:
// fewer wake-ups than one per byte, and the buffer stays nearly full.
constexpr int kRefillDivisor = 8;

std::string text(const QString& s)
{
    return s.toStdString();
}

bool isPtySlave(int fd)
{
    struct stat st { };
    return ::fstat(fd, &st) == 0 && lumora::isPtySlave(st);
}

}  // namespace

SerialLine::SerialLine(Yield yield, QObject* parent)
    : QObject(parent), m_yield(std::move(yield)), m_wait(&EventPump::waitForEvents), m_port(new QSerialPort(this)),
      m_lineTimer(new QTimer(this)), m_pacer(kPtyLead)
{
    m_lineTimer->setTimerType(Qt::PreciseTimer);
    m_lineTimer->setInterval(kPacingTick);
    connect(m_lineTimer, &QTimer::timeout, this, [this] { pump(true); });
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
}

SerialLine::~SerialLine()
{
    if (m_port->isOpen())
        shutDown();
}

void SerialLine::setWait(Wait wait)
{
    m_wait = std::move(wait);
}

QString SerialLine::defaultDevice(int portNumber)
{
    if (portNumber < 1)
        return {};
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
}

void SerialLine::setCommPort(int portNumber)
{
    m_portNumber = portNumber;
}

void SerialLine::setPortOneDevice(const QString& device)
{
    m_portOneDevice = device;
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

void SerialLine::setStallLimit(std::chrono::milliseconds limit)
{
    m_stallLimit = limit;
}

void SerialLine::open()
{
    if (m_port->isOpen())
        throw Failure(FailureNumber::PortNotOpen, text(m_device) + ": port already open");
    const QString configured = device();
    if (configured.isEmpty()) {
        m_device = QStringLiteral("port number %1").arg(m_portNumber);
        throwOpenFailure("names no device");
    }

    // Open the device behind any symlink, so that its lock file is the same
    // whichever name another program used.
    const QString path = canonicalDevice(configured);
    m_device = path == configured ? configured : configured + " (" + path + ")";

    m_port->setPortName(path);
    m_port->setBaudRate(wire::kBaudRate);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_failure.reset();
    if (!m_port->open(QIODevice::WriteOnly))
        throwOpenFailure(openFailureReason(m_port->error(), m_port->errorString(), path));

    // QSerialPort's lock file and TIOCEXCL do not stop root, nor a program
    // that opened the device under another name; flock() does.
    if (::flock(m_port->handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        m_port->close();
        throwOpenFailure(std::string(std::strerror(EBUSY)) + " (held by another program)");
    }

    m_isPty = isPtySlave(m_port->handle());
    m_lineQueue.clear();
    m_pacer.reset(Clock::now());
    m_driverQueueBound = 0;
}

void SerialLine::throwOpenFailure(const std::string& reason)
{
    throw Failure(FailureNumber::PortNotOpen, openFailureReport(m_device, reason, device()));
}

void SerialLine::write(std::span<const std::uint8_t> bytes)
{
    throwIfFailed();
    if (!m_port->isOpen())
        throw Failure(FailureNumber::PortNotOpen, text(device()) + ": port not open");
    m_lastProgress = Clock::now();
    while (!bytes.empty()) {
        int room = m_outputBufferBytes - waitingBound();
        if (room <= 0 && !m_isPty) {
            readDriverQueue();
            room = m_outputBufferBytes - waitingBound();
        }
        if (room > 0) {
            const auto n = std::min(bytes.size(), static_cast<std::size_t>(room));
            enqueue(bytes.first(n));
            bytes = bytes.subspan(n);
            throwIfFailed();
            m_lastOutstanding = waitingBound();
        } else {
            waitUntilWaitingAtMost(m_outputBufferBytes - std::max(1, m_outputBufferBytes / kRefillDivisor));
        }
    }
}

void SerialLine::waitForRoom(int bytes)
{
    throwIfFailed();
    if (!m_port->isOpen())
        throw Failure(FailureNumber::PortNotOpen, text(device()) + ": port not open");
    const int target = m_outputBufferBytes - std::clamp(bytes, 1, m_outputBufferBytes);
    if (!m_isPty && waitingBound() > target)
        readDriverQueue();
    if (waitingBound() <= target)
        return;
    m_lastProgress = Clock::now();
    m_lastOutstanding = waitingBound();
    waitUntilWaitingAtMost(target);
}

void SerialLine::enqueue(std::span<const std::uint8_t> bytes)
{
    if (m_isPty && m_lineQueue.empty())
        m_pacer.restartIfIdle(Clock::now());
    m_lineQueue.insert(m_lineQueue.end(), bytes.begin(), bytes.end());
    pump(false);
}

// Hands the descriptor what it may take now: on a pty the queued bytes whose
// time on the line is near (at a tick, or at once when the line would
// fall idle before the next), on a real port all that the driver accepts.
// Never throws (it runs from the pacing timer); a failure is remembered.
void SerialLine::pump(bool tick)
{
    if (!m_port->isOpen() || m_failure || m_lineQueue.empty()) {
        m_lineTimer->stop();
        return;
    }
    std::size_t n = m_lineQueue.size();
    if (m_isPty) {
        const auto now = Clock::now();
        n = tick || m_pacer.ahead(now) < kBusyEnoughBytes ? m_pacer.due(now, n) : 0;
    }
    if (n > 0) {
        std::array<std::uint8_t, wire::kOutputBufferBytes> chunk{};
        std::copy_n(m_lineQueue.begin(), n, chunk.begin());
        ssize_t written = ::write(m_port->handle(), chunk.data(), n);
        if (written < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                remember(writeFailure(errno));
                return;
            }
            written = 0;
        }
        m_lineQueue.erase(m_lineQueue.begin(), m_lineQueue.begin() + written);
        if (m_isPty)
            m_pacer.handed(static_cast<std::size_t>(written), static_cast<std::size_t>(written) < n);
        else
            m_driverQueueBound += static_cast<int>(written);
    }
    if (m_lineQueue.empty())
        m_lineTimer->stop();
    else if (!m_lineTimer->isActive())
        m_lineTimer->start();
}

Failure SerialLine::writeFailure(int errnoValue) const
{
    const std::string reason = text(m_device) + ": " + std::strerror(errnoValue);
    switch (errnoValue) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE: return Failure(FailureNumber::PortGone, reason);
    default: return Failure(FailureNumber::PortWriteFailed, reason);
    }
}

// Waits until no more than `target` bytes wait for the line: yields,
// then sleeps in the event loop until the line should have taken enough or
// an event comes. Throws when the port failed or the line took nothing for
// the stall limit.
void SerialLine::waitUntilWaitingAtMost(int target)
{
    for (;;) {
        pump(true);
        if (m_yield)
            m_yield();
        throwIfFailed();
        if (!m_isPty)
            readDriverQueue();
        const int waiting = waitingBound();
        if (waiting <= target)
            return;

        const auto now = Clock::now();
        if (waiting < m_lastOutstanding) {
            m_lastProgress = now;
        } else if (now - m_lastProgress > m_stallLimit) {
            remember(Failure(FailureNumber::PortWriteFailed, text(m_device) + ": the device has taken no byte for " +
                                                                 std::to_string(m_stallLimit.count()) + " ms (" +
                                                                 std::to_string(waiting) + " bytes waiting)"));
            throwIfFailed();
        }
        m_lastOutstanding = waiting;

        // When the line should have taken enough: a pty's by its clock, a
        // real port's at the line rate from now. A pty past that time has
        // a reader that stopped; its bytes move at the next pacing tick.
        Clock::time_point wake = m_isPty ? m_pacer.whenWaitingAtMost(target, m_lineQueue.size())
                                         : now + std::chrono::microseconds(static_cast<std::int64_t>(waiting - target) *
                                                                           1'000'000 / wire::kLineBytesPerSecond);
        if (wake <= now)
            wake = now + kPacingTick;
        wake = std::min(wake, m_lastProgress + m_stallLimit + std::chrono::milliseconds(1));
        if (m_wait)
            m_wait(std::max(wake, now + std::chrono::milliseconds(1)));
    }
}

int SerialLine::driverQueue() const
{
    if (m_isPty || !m_port->isOpen())
        return 0;  // a pty's queue is its reader's input, not a line
    int queued = 0;
    if (::ioctl(m_port->handle(), TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

void SerialLine::readDriverQueue()
{
    m_driverQueueBound = driverQueue();
}

int SerialLine::waitingBound() const
{
    if (!m_port->isOpen())
        return 0;
    const int handed = m_isPty ? m_pacer.ahead(Clock::now()) : m_driverQueueBound;
    return static_cast<int>(m_lineQueue.size()) + static_cast<int>(m_port->bytesToWrite()) + handed;
}

int SerialLine::outstanding() const
{
    if (!m_port->isOpen())
        return 0;
    const int handed = m_isPty ? m_pacer.ahead(Clock::now()) : driverQueue();
    return static_cast<int>(m_lineQueue.size()) + static_cast<int>(m_port->bytesToWrite()) + handed;
}

void SerialLine::onPortError(int error)
{
    if (error == QSerialPort::NoError || !m_port->isOpen())
        return;
    const std::string reason = text(m_device) + ": " + text(m_port->errorString());
    remember(Failure(error == QSerialPort::ResourceError ? FailureNumber::PortGone : FailureNumber::PortWriteFailed,
                     reason));
}

// Keeps the first failure and stops all further traffic, so a dead device is
// not retried on every pass of the event pump. Never throws: this may run
// inside a slot.
void SerialLine::remember(Failure failure)
{
    if (!m_failure)
        m_failure.emplace(std::move(failure));
    m_lineQueue.clear();
    m_lineTimer->stop();
    if (m_port->isOpen() && m_port->bytesToWrite() > 0)
        m_port->clear(QSerialPort::Output);
}

void SerialLine::throwIfFailed()
{
    if (!m_failure)
        return;
    Failure failure = *m_failure;
    m_failure.reset();
    shutDown();
    throw failure;
}

void SerialLine::close()
{
    throwIfFailed();
    if (!m_port->isOpen())
        return;
    try {
        m_lastOutstanding = outstanding();
        m_lastProgress = Clock::now();
        if (m_lastOutstanding > 0)
            waitUntilWaitingAtMost(0);
        throwIfFailed();
        // The driver's queue is empty now, but the UART may still be
        // shifting out the last bytes of its own FIFO, and QSerialPort
        // puts the port's old settings (speed included) back the moment it
        // closes. tcdrain() waits until the last stop bit has left. It
        // cannot hang on a dead device: with the queue empty it waits only
        // for the FIFO, which the kernel bounds by the FIFO's time on the
        // line for built-in ports, and USB adapters end the wait when they
        // report their transmitter empty or stop answering. On a pty it
        // returns at once; a failure there is the reader's business.
        while (::tcdrain(m_port->handle()) != 0) {
            if (errno == EINTR)
                continue;
            if (!m_isPty)
                remember(writeFailure(errno));
            break;
        }
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
    m_lineTimer->stop();
    m_lineQueue.clear();
    if (m_port->isOpen()) {
        if (driverQueue() > 0 || m_port->bytesToWrite() > 0)
            m_port->clear(QSerialPort::Output);
        m_port->close();
    }
}

}  // namespace lumora
