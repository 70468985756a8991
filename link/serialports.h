// SPDX-License-Identifier: GPL-3.0-or-later
// The serial ports of this computer, for lumora --list-ports and for the
// report of a port that cannot be opened.
//
// Finding them only looks: no port is opened, because opening a serial
// port raises its DTR and RTS lines, which resets many microcontroller
// boards. A port is busy when another program has locked it, by a lock
// file in /run/lock (as QSerialPort and minicom do) or by flock() (as
// Lumora does, seen in /proc/locks); Lumora cannot open it then. Besides,
// the descriptors of the processes in /proc tell which programs have a
// port open without a lock.
//
// Also why a port could not be opened, in words.
//
// Plain functions over QSerialPortInfo and the file system; no widgets.
#pragma once

#include <QSerialPort>
#include <QString>

#include <string>
#include <vector>

namespace lumora {

struct SerialPortEntry {
    QString device;        // "/dev/ttyUSB0"
    QString stableName;    // "/dev/serial/by-id/usb-FTDI_...-port0"; empty when the port has none
    QString description;   // "FT232R USB UART", "pseudo-terminal"; may be empty
    QString manufacturer;  // may be empty
    QString serialNumber;  // may be empty
    QString lockedBy;      // "minicom (pid 812)" when another program has locked the port
    QString openIn;        // "ModemManager (pid 530)" when another program has it open
};

struct SerialPortList {
    std::vector<SerialPortEntry> ports;
    // False when some processes could not be looked into (those of other
    // users, without root): a port only they have open would look free.
    bool allProcessesSeen = true;
};

// The ports QSerialPortInfo finds, ordered by device name, and `alsoDevice`
// (a device or a symbolic link to one) when it is a character device they
// do not include, such as a pseudo-terminal.
SerialPortList findSerialPorts(const QString& alsoDevice = {});

// One block per port, indented by two spaces:
//   /dev/ttyUSB0: FT232R USB UART, made by FTDI, serial number A50285BI; free
//     stable name /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//   /dev/ttyS0: busy, locked by minicom (pid 812)
//   /dev/ttyACM0: Arduino Uno; open in ModemManager (pid 530)
// The port that `chosen` names (by any of its names) is marked "<- chosen".
// With no port at all: "  none found".
QString describeSerialPorts(const SerialPortList& list, const QString& chosen = {});

// Why QSerialPort could not open `path`, in words: absent, busy (held by
// another program), no permission (with how to get it), or Qt's own text.
std::string openFailureReason(QSerialPort::SerialPortError error, const QString& errorString, const QString& path);

}  // namespace lumora
