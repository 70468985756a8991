// SPDX-License-Identifier: GPL-3.0-or-later
#include "serialports.h"

#include "devicefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace lumora {

namespace {

// Where serial programs leave their lock files, named LCK..<device below
// /dev, slashes as underscores>, holding the owner's process id first.
constexpr std::array<const char*, 3> kLockDirectories = {"/run/lock", "/var/lock", "/tmp"};

const QString kStableNameDirectory = QStringLiteral("/dev/serial/by-id");

QString commandOf(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readLine()).trimmed();
}

QString holderText(pid_t pid, QString command)
{
    if (command.isEmpty())
        command = QStringLiteral("a program");
    return QStringLiteral("%1 (pid %2)").arg(command).arg(pid);
}

bool isAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The owner of a live lock file for the device, or empty.
QString lockFileOwner(const QString& device)
{
    if (!device.startsWith(QLatin1String("/dev/")))
        return {};
    const QString name = QStringLiteral("LCK..") + device.mid(5).replace('/', '_');
    for (const char* directory : kLockDirectories) {
        QFile lock(QString::fromLatin1(directory) + '/' + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const auto pid = static_cast<pid_t>(QString::fromLatin1(lock.readLine()).trimmed().toLong(&ok));
        const QString program = QString::fromLocal8Bit(lock.readLine()).trimmed();
        if (ok && isAlive(pid)) {
            const QString command = commandOf(pid);
            return holderText(pid, command.isEmpty() ? program : command);
        }
    }
    return {};
}

// The processes holding a flock() on some file, from /proc/locks, whose
// lines read "1: FLOCK  ADVISORY  WRITE 812 00:1a:5 0 EOF" (pid, then the
// file's device in hex and its inode), by that file.
std::map<QString, pid_t> flockHolders()
{
    std::map<QString, pid_t> holders;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return holders;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).split(' ', Qt::SkipEmptyParts);
        if (fields.size() >= 6 && fields[1] == QLatin1String("FLOCK") && !holders.contains(fields[5]))
            holders[fields[5]] = static_cast<pid_t>(fields[4].toLong());
    }
    return holders;
}

// The process holding a flock() on the device, or empty.
QString flockOwner(const QString& device, const std::map<QString, pid_t>& holders)
{
    struct stat st { };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return {};
    const QString file = QStringLiteral("%1:%2:%3")
                             .arg(major(st.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(minor(st.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(st.st_ino);
    const auto holder = holders.find(file);
    return holder == holders.end() ? QString() : holderText(holder->second, commandOf(holder->second));
}

// Which of `devices` the other processes have open, by their descriptors.
// Clears allSeen when a process's descriptors could not be read.
std::map<QString, QString> descriptorHolders(const std::set<QString>& devices, bool& allSeen)
{
    std::map<QString, QString> holders;
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        allSeen = false;
        return holders;
    }
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        const std::string fdDirectory = "/proc/" + std::string(entry->d_name) + "/fd";
        DIR* fds = ::opendir(fdDirectory.c_str());
        if (!fds) {
            if (errno == EACCES)
                allSeen = false;
            continue;  // else the process has ended meanwhile
        }
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            char target[4096];
            const std::string link = fdDirectory + '/' + fd->d_name;
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            const QString path = QFile::decodeName(QByteArray(target, static_cast<int>(n)));
            if (devices.contains(path) && !holders.contains(path))
                holders[path] = holderText(static_cast<pid_t>(pid), commandOf(static_cast<pid_t>(pid)));
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holders;
}

std::map<QString, QString> stableNames()
{
    std::map<QString, QString> names;
    const QFileInfoList links = QDir(kStableNameDirectory).entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo& link : links) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !names.contains(target))
            names[target] = link.absoluteFilePath();
    }
    return names;
}

}  // namespace

SerialPortList findSerialPorts(const QString& alsoDevice)
{
    SerialPortList list;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry;
        entry.device = info.systemLocation();
        entry.description = info.description();
        entry.manufacturer = info.manufacturer();
        entry.serialNumber = info.serialNumber();
        list.ports.push_back(entry);
    }
    std::vector<QString> canonicalDevices;
    for (const SerialPortEntry& entry : list.ports)
        canonicalDevices.push_back(canonicalDevice(entry.device));
    if (!alsoDevice.isEmpty()) {
        const QString device = canonicalDevice(alsoDevice);
        struct stat st { };
        if (std::find(canonicalDevices.begin(), canonicalDevices.end(), device) == canonicalDevices.end() &&
            ::stat(QFile::encodeName(device).constData(), &st) == 0 && S_ISCHR(st.st_mode)) {
            SerialPortEntry entry;
            entry.device = device;
            if (isPtySlave(st))
                entry.description = QStringLiteral("pseudo-terminal");
            list.ports.push_back(entry);
            canonicalDevices.push_back(device);
        }
    }

    const auto names = stableNames();
    const std::set<QString> devices(canonicalDevices.begin(), canonicalDevices.end());
    const auto holders = descriptorHolders(devices, list.allProcessesSeen);
    const auto flocks = flockHolders();
    for (std::size_t i = 0; i < list.ports.size(); ++i) {
        SerialPortEntry& entry = list.ports[i];
        const QString& device = canonicalDevices[i];
        if (const auto name = names.find(device); name != names.end())
            entry.stableName = name->second;
        entry.lockedBy = lockFileOwner(device);
        if (entry.lockedBy.isEmpty())
            entry.lockedBy = flockOwner(device, flocks);
        if (const auto holder = holders.find(device); holder != holders.end())
            entry.openIn = holder->second;
    }
    std::sort(list.ports.begin(), list.ports.end(),
              [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.device < b.device; });
    return list;
}

QString describeSerialPorts(const SerialPortList& list, const QString& chosen)
{
    if (list.ports.empty())
        return QStringLiteral("  none found");
    const QString chosenDevice = chosen.isEmpty() ? QString() : canonicalDevice(chosen);
    QStringList lines;
    for (const SerialPortEntry& entry : list.ports) {
        QStringList about;
        if (!entry.description.isEmpty())
            about << entry.description;
        if (!entry.manufacturer.isEmpty() && entry.manufacturer != entry.description)
            about << QStringLiteral("made by ") + entry.manufacturer;
        if (!entry.serialNumber.isEmpty())
            about << QStringLiteral("serial number ") + entry.serialNumber;
        QString line = QStringLiteral("  ") + entry.device + QStringLiteral(": ");
        if (!about.isEmpty())
            line += about.join(QStringLiteral(", ")) + QStringLiteral("; ");
        if (!entry.lockedBy.isEmpty())
            line += QStringLiteral("busy, locked by ") + entry.lockedBy;
        else if (!entry.openIn.isEmpty())
            line += QStringLiteral("open in ") + entry.openIn;
        else
            line += list.allProcessesSeen ? QStringLiteral("free") : QStringLiteral("free, as far as your programs go");
        if (!chosenDevice.isEmpty() && canonicalDevice(entry.device) == chosenDevice)
            line += QStringLiteral("  <- chosen");
        lines << line;
        if (!entry.stableName.isEmpty())
            lines << QStringLiteral("    stable name ") + entry.stableName;
    }
    return lines.join('\n');
}

}  // namespace lumora

namespace lumora {

std::string openFailureReason(QSerialPort::SerialPortError error, const QString& errorString, const QString& path)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return std::strerror(ENOENT);
    case QSerialPort::PermissionError: {
        // QSerialPort reports both a denied open() and a lock held by
        // another program as a permission error; the device's access bits
        // tell them apart.
        const QByteArray local = path.toLocal8Bit();
        if (::faccessat(AT_FDCWD, local.constData(), W_OK, AT_EACCESS) != 0 && errno == EACCES)
            return std::string(std::strerror(EACCES)) + ". Add your user to the dialout group "
                                                        "(sudo usermod -aG dialout $USER), then log out and in again.";
        return std::string(std::strerror(EBUSY)) + " (held by another program)";
    }
    default: return errorString.toStdString();
    }
}

}  // namespace lumora
