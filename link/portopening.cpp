// SPDX-License-Identifier: GPL-3.0-or-later
#include "portopening.h"

#include "devicefiles.h"
#include "serialports.h"
#include "wireformat.h"

#include <QSerialPort>

#include <cerrno>
#include <cstring>

#include <sys/file.h>

namespace lumora {

QString openDisplayPort(QSerialPort& port, const QString& configured)
{
    // Open the device behind any symlink, so that its lock file is the same
    // whichever name another program used.
    const QString path = canonicalDevice(configured);
    const QString device = path == configured ? configured : configured + " (" + path + ")";
    const auto fail = [&](const std::string& reason) {
        return Failure(FailureNumber::PortNotOpen, device.toStdString() + ": " + reason, configured.toStdString());
    };
    port.setPortName(path);
    port.setBaudRate(wire::kBaudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::WriteOnly))
        throw fail(openFailureReason(port.error(), port.errorString(), path));
    // QSerialPort's lock file and TIOCEXCL do not stop root, nor a program
    // that opened the device under another name; flock() does.
    if (::flock(port.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        port.close();
        throw fail(std::string(std::strerror(EBUSY)) + " (held by another program)");
    }
    return device;
}

Failure writeFailure(const QString& device, int errnoValue)
{
    const std::string reason = device.toStdString() + ": " + std::strerror(errnoValue);
    switch (errnoValue) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE: return Failure(FailureNumber::PortGone, reason);
    default: return Failure(FailureNumber::PortWriteFailed, reason);
    }
}

}  // namespace lumora
