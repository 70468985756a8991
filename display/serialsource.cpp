// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialsource.h"

#include <QSerialPort>

namespace lumora::display {

SerialSource::SerialSource(QString device) : m_device(std::move(device))
{
    m_thread.setObjectName(QStringLiteral("serial reader"));
}

SerialSource::~SerialSource()
{
    m_thread.quit();
    m_thread.wait();
}

void SerialSource::start(ChunkQueue& queue)
{
    // Everything below runs on m_thread; the port is deleted with the
    // thread's event loop.
    auto* port = new QSerialPort;
    port->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, port, &QObject::deleteLater);
    QObject::connect(&m_thread, &QThread::started, port, [port, &queue, device = m_device] {
        port->setPortName(device);
        port->setBaudRate(wire::kBaudRate);
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        if (!port->open(QIODevice::ReadOnly)) {
            queue.finish("cannot open " + device.toStdString() + ": " + port->errorString().toStdString());
            return;
        }
        QObject::connect(port, &QSerialPort::readyRead, port, [port, &queue] {
            const QByteArray data = port->readAll();
            const Nanoseconds arrival = monotonicNow();
            if (data.isEmpty())
                return;
            const auto* first = reinterpret_cast<const std::uint8_t*>(data.constData());
            if (!queue.push({{first, first + data.size()}, arrival}))
                port->close();
        });
        QObject::connect(port, &QSerialPort::errorOccurred, port,
                         [port, &queue, device](QSerialPort::SerialPortError error) {
                             if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
                                 return;
                             queue.finish(device.toStdString() + ": " + port->errorString().toStdString());
                             port->close();
                         });
    });
    m_thread.start();
}

}  // namespace lumora::display
