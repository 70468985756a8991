// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the display's serial port, and naming what went wrong on it.
#pragma once

#include "failure.h"

#include <QString>

class QSerialPort;

namespace lumora {

// Opens `configured` (a path, or a symbolic link to one) write-only at
// 57600 baud 8N1 without flow control, and locks it with flock(), which
// also keeps out root and a program that opened it under another name.
// Returns the device as messages name it: "/dev/x", or "/dev/x (/dev/y)"
// behind a link. Throws PortNotOpen, naming the device and why.
QString openDisplayPort(QSerialPort& port, const QString& configured);

// The failure of a write or drain that failed with errnoValue: PortGone for
// a device that went away, PortWriteFailed for anything else.
Failure writeFailure(const QString& device, int errnoValue);

}  // namespace lumora
