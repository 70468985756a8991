// SPDX-License-Identifier: GPL-3.0-or-later
// A real serial port: 57600 baud, 8 data bits, no parity, 1 stop bit, no
// flow control, opened read-only.
//
// The QSerialPort lives on a QThread of its own, so the window's painting
// cannot delay the arrival times. A port that fails or vanishes (a USB
// adapter pulled out) finishes the queue with the port's error instead of
// being read again and again.
#pragma once

#include "bytesource.h"

#include <QString>
#include <QThread>

namespace lumora::display {

class SerialSource : public ByteSource {
public:
    explicit SerialSource(QString device);
    ~SerialSource() override;

    void start(ChunkQueue& queue) override;
    std::string name() const override { return m_device.toStdString(); }

private:
    QString m_device;
    QThread m_thread;
};

}  // namespace lumora::display
