// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line to the light display: the form's MSComm1 control.
//
// Opens the port at 57600 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, for exclusive use and for writing only; DTR and RTS stay as the
// driver leaves them. Every byte goes out as its value, untranslated.
//
// QSerialPort opens, configures, locks and closes the port; the bytes go to
// its descriptor directly, in non-blocking writes, because QSerialPort
// takes a full driver buffer (EAGAIN) for a failed device.
//
// At most the output buffer's size ever waits between the program and the
// wire: this class's queue plus the driver's (TIOCOUTQ). The size is 512
// bytes unless set lower (down to 84, one cycle). A write that finds no
// room waits until an eighth of the buffer is free again, sleeping in the
// event loop (EventPump::waitForEvents), so the window is serviced the
// moment something arrives and a waiting or stalled line costs no
// processor time.
//
// A pseudo-terminal has no line of its own, so there this class plays the
// line (LinePacer): it hands the pty a byte no more than 30 ms before a
// 57600-baud line would begin it, and counts the bytes handed early as
// waiting, as a driver counts its queue. A pacing timer (10 ms) keeps the
// bytes moving while the caller yields or waits.
//
// Runs on the window thread. Failures are thrown as lumora::Failure naming
// the device; a failure the port reports by signal is remembered and thrown
// from the next write() or close(). Owns its QSerialPort and the pacing timer.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>

#include "failure.h"
#include "lineoutput.h"
#include "linepacer.h"
#include "wireformat.h"

class QSerialPort;
class QTimer;

namespace lumora {

class SerialLine : public QObject, public LineOutput {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    // One yield of the caller; the streaming run passes EventPump::yield.
    using Yield = std::function<void()>;
    // Services events until one arrives or the time given comes; by
    // default EventPump::waitForEvents.
    using Wait = std::function<void(Clock::time_point)>;

    explicit SerialLine(Yield yield, QObject* parent = nullptr);
    ~SerialLine() override;
    void setWait(Wait wait);

    // Port number n names /dev/ttyS(n-1); numbers below 1 name no device
    // (empty).
    static QString defaultDevice(int portNumber);
    void setCommPort(int portNumber);  // default 1; takes effect at open()
    // Names the device behind port number 1 (the settings' choice) in place
    // of defaultDevice(1); empty gives that back. Takes effect at open().
    void setPortOneDevice(const QString& device);
    QString device() const;

    // Bytes that may wait between write() and the wire, from
    // wire::kSmallestOutputBufferBytes (84) to wire::kOutputBufferBytes (512,
    // the default). Fewer bytes waiting means less lag: at most bytes / 5760
    // seconds. The bytes and their order do not change. Takes effect at the
    // next write; throws Failure(Internal) outside the range.
    void setOutputBufferBytes(int bytes);

    // PortOpen = true. Throws Failure(PortNotOpen) naming the device and the
    // reason: absent, busy (held by another program), no permission.
    void open();
    // Output: each byte goes out as exactly its value, in order. When the
    // output buffer is full, yields and waits until an eighth of it is free.
    // Throws Failure(PortWriteFailed or PortGone).
    void write(std::span<const std::uint8_t> bytes) override;
    // Waits as a write that finds the buffer full would, until `bytes` (1 up
    // to the buffer's size) could be written without waiting. The run calls
    // it before it takes the music for a cycle, so that the cycle's first
    // bytes go out soon after. Throws as write() does.
    void waitForRoom(int bytes) override;
    // PortOpen = false: waits until everything written has left the UART
    // (the driver's queue, then its FIFO), then closes. The port is closed
    // even when this throws.
    void close() override;
    bool isOpen() const;
    // Bytes written but not yet on the wire, 0 up to the output buffer's size.
    int outstanding() const;

    // How long a waiting write() or close() lets the line take no byte at
    // all before it fails with PortWriteFailed. Default 10 s.
    void setStallLimit(std::chrono::milliseconds limit);

private:
    void enqueue(std::span<const std::uint8_t> bytes);
    void pump(bool tick);
    Failure writeFailure(int errnoValue) const;
    void waitUntilWaitingAtMost(int waiting);
    int driverQueue() const;
    // Bytes written and not yet on the wire, at most: the driver's queue as
    // last read plus what was handed to it since, without asking it again.
    int waitingBound() const;
    void readDriverQueue();
    void onPortError(int error);
    void remember(Failure failure);
    void throwIfFailed();
    void shutDown();
    [[noreturn]] void throwOpenFailure(const std::string& reason);

    Yield m_yield;
    Wait m_wait;
    int m_portNumber = 1;
    QString m_portOneDevice;
    int m_outputBufferBytes = wire::kOutputBufferBytes;
    QString m_device;
    QSerialPort* m_port;
    QTimer* m_lineTimer;
    bool m_isPty = false;
    std::deque<std::uint8_t> m_lineQueue;  // written, not yet handed to the descriptor
    LinePacer m_pacer;                     // a pty's line
    int m_driverQueueBound = 0;            // a real port's queue, at most
    std::optional<Failure> m_failure;
    std::chrono::milliseconds m_stallLimit{10000};
    int m_lastOutstanding = 0;
    Clock::time_point m_lastProgress;
};

}  // namespace lumora
