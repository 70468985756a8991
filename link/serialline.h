// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line to the light display: the form's MSComm1 control.
//
// Opens the port at 57600 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, for exclusive use and for writing only; DTR and RTS stay as the
// driver leaves them. Every byte goes out as its value, untranslated.
// QSerialPort opens, configures, locks and closes the port; the bytes go to
// its descriptor directly, in non-blocking writes, because QSerialPort
// takes a full driver buffer (EAGAIN) for a failed device.
//
// At most the output buffer's size ever waits between the program and the
// wire: this class's queue plus what the device holds (linedevice.h: a
// UART's driver queue, or what a pseudo-terminal was handed ahead of the
// line). The size is 512 bytes unless set lower (down to 84, one cycle).
// A write that finds no room waits until a cycle's worth is free (half the
// buffer, when that is less), asleep in the event loop, so the window is
// serviced the moment something arrives and a waiting line costs no
// processor time. One timer wakes the line: when the device wants its next
// bytes, or when a waiting write has room.
//
// On a real port a run begins with the device's filler (wireformat.h).
//
// Runs on the window thread. Failures are thrown as lumora::Failure naming
// the device; a failure the port reports by signal is remembered and thrown
// from the next write() or close(). A line that takes no byte for the
// stall limit fails. Owns its QSerialPort, its timer and its device.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "failure.h"
#include "linedevice.h"
#include "lineoutput.h"
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

    explicit SerialLine(Yield yield, QObject* parent = nullptr);
    ~SerialLine() override;

    // Port number n names /dev/ttyS(n-1); numbers below 1 name no device
    // (empty).
    static QString defaultDevice(int portNumber);
    void setCommPort(int portNumber) { m_portNumber = portNumber; }  // default 1; takes effect at open()
    // Names the device behind port number 1 (the settings' choice) in place
    // of defaultDevice(1); empty gives that back. Takes effect at open().
    void setPortOneDevice(const QString& device) { m_portOneDevice = device; }
    QString device() const;

    // Bytes that may wait between write() and the wire, from
    // wire::kSmallestOutputBufferBytes (84) to wire::kOutputBufferBytes (512,
    // the default). Fewer bytes waiting means less lag: at most bytes / 5760
    // seconds. The bytes and their order do not change. Takes effect at
    // open(); throws Failure(Internal) outside the range.
    void setOutputBufferBytes(int bytes);

    // PortOpen = true, then the device's filler. Throws Failure(PortNotOpen)
    // naming the device and the reason (absent, busy, no permission), with
    // the device as chosen for its subject.
    void open();
    // Output: each byte goes out as exactly its value, in order. When the
    // output buffer is full, yields and waits for room. Throws
    // Failure(PortWriteFailed or PortGone).
    void write(std::span<const std::uint8_t> bytes) override;
    // Waits as a write that finds the buffer full would, until `bytes` (1 up
    // to the buffer's size) could be written without waiting. The run calls
    // it before it takes the music for a cycle, so that the cycle's first
    // bytes go out soon after. Throws as write() does.
    void waitForRoom(int bytes) override;
    // PortOpen = false: waits until everything written has left the UART
    // (the queues, then its FIFO), then closes. The port is closed even when
    // this throws.
    void close() override;
    bool isOpen() const;
    // Bytes written but not yet on the wire, 0 up to the output buffer's size.
    int outstanding() { return waiting(true); }

    // How long a waiting write() or close() lets the line take no byte at
    // all before it fails with PortWriteFailed. Default 10 s.
    void setStallLimit(std::chrono::milliseconds limit) { m_stallLimit = limit; }

private:
    void pump(bool awake);
    void arm(Clock::time_point now);
    void waitUntilWaitingAtMost(int target);
    int waiting(bool ask);
    void remember(Failure failure);
    void throwIfFailed();
    void throwUnlessOpen();
    void shutDown();

    Yield m_yield;
    int m_portNumber = 1;
    QString m_portOneDevice;
    int m_outputBufferBytes = wire::kOutputBufferBytes;
    QString m_device;
    QSerialPort* m_port;
    QTimer* m_timer;
    std::unique_ptr<LineDevice> m_lineDevice;
    std::deque<std::uint8_t> m_queue;  // written, not yet handed to the device
    std::optional<Failure> m_failure;
    std::chrono::milliseconds m_stallLimit{10000};
    Clock::time_point m_wakeAt = Clock::time_point::max();  // a waiting write's
    int m_lastWaiting = 0;
    Clock::time_point m_lastProgress;
};

}  // namespace lumora
