// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include "serialline.h"
#include "serialports.h"
#include "sourcechoice.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <array>
#include <optional>

namespace lumora {

namespace {

const QString kPortKey = QStringLiteral("port");
const QString kSourceKey = QStringLiteral("source");
const QString kOutputBufferKey = QStringLiteral("outputBuffer");
const QString kDefaultSource = QStringLiteral("auto");

// Qt's own command-line options (QGuiApplication and QApplication), which
// Lumora passes on to Qt. Qt takes them with one dash or two.
constexpr std::array kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "session", "display", "style", "stylesheet", "name"};
constexpr std::array kQtFlags = {"reverse", "widgetcount", "testability", "nograb", "dograb", "sync"};

template <std::size_t N>
bool contains(const std::array<const char*, N>& names, const QString& name)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

// Splits the arguments after the program name into Qt's and Lumora's own.
// Returns an error for a Qt option that lacks its value.
QString splitQtArguments(const QStringList& arguments, QStringList& ours, QStringList& qt)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            ours << arguments.mid(i);
            break;
        }
        QString name;
        if (argument.startsWith(QLatin1String("--")))
            name = argument.mid(2);
        else if (argument.startsWith('-'))
            name = argument.mid(1);
        const bool hasInlineValue = name.contains('=');
        name = name.section('=', 0, 0);
        if (contains(kQtOptionsWithValue, name)) {
            if (!hasInlineValue && i + 1 >= arguments.size())
                return argument + QStringLiteral(" needs a value");
            qt << argument;
            if (!hasInlineValue)
                qt << arguments[++i];
        } else if (contains(kQtFlags, name) && !hasInlineValue) {
            qt << argument;
        } else {
            ours << argument;
        }
    }
    return {};
}

// The problem with a source choice, or nothing when Lumora can use it.
std::optional<QString> sourceProblem(const QString& source)
{
    const auto choice = vbvis::parseSourceChoice(source.toStdString());
    if (!choice)
        return QStringLiteral("not one of %1").arg(QString::fromUtf8(vbvis::kSourceChoiceForms.data(),
                                                                      vbvis::kSourceChoiceForms.size()));
    if (const auto problem = vbvis::sourceChoiceProblem(*choice))
        return QString::fromStdString(*problem);
    return std::nullopt;
}

std::optional<QString> outputBufferProblem(const QString& text, int& bytes)
{
    bool ok = false;
    bytes = text.toInt(&ok);
    if (ok && bytes >= wire::kSmallestOutputBufferBytes && bytes <= wire::kOutputBufferBytes)
        return std::nullopt;
    return QStringLiteral("not a whole number of bytes from %1 to %2")
        .arg(wire::kSmallestOutputBufferBytes)
        .arg(wire::kOutputBufferBytes);
}

struct FileSettings {
    std::optional<QString> port;
    std::optional<QString> source;
    std::optional<int> outputBuffer;
};

// Reads and checks the whole settings file; a missing file gives nothing.
QString readSettingsFile(const QString& path, FileSettings& file)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile() || !info.isReadable())
        return path + QStringLiteral(": cannot be read");
    QSettings settings(path, QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    if (settings.status() != QSettings::NoError)
        return path + QStringLiteral(": not a settings file Lumora can read: every line is key=value, "
                                     "a comment line starts with ';'");
    for (const QString& key : keys) {
        const QVariant raw = settings.value(key);
        if (raw.typeId() == QMetaType::QStringList)
            return path + QStringLiteral(": %1=%2: a value with a comma needs double quotes")
                              .arg(key, raw.toStringList().join(','));
        const QString value = raw.toString().trimmed();
        const QString where = path + QStringLiteral(": %1=%2: ").arg(key, value);
        if (key == kPortKey) {
            if (value.isEmpty())
                return where + QStringLiteral("names no device");
            file.port = value;
        } else if (key == kSourceKey) {
            if (const auto problem = sourceProblem(value))
                return where + *problem;
            file.source = value;
        } else if (key == kOutputBufferKey) {
            int bytes = 0;
            if (const auto problem = outputBufferProblem(value, bytes))
                return where + *problem;
            file.outputBuffer = bytes;
        } else {
            return path + QStringLiteral(": unknown key '%1' (the keys are %2, %3 and %4, at the top of the file)")
                              .arg(key, kPortKey, kSourceKey, kOutputBufferKey);
        }
    }
    return {};
}

}  // namespace

QString settingsFilePath(const QProcessEnvironment& environment)
{
    QString base = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = environment.value(QStringLiteral("HOME")) + QStringLiteral("/.config");
    return base + QStringLiteral("/lumora/lumora.conf");
}

StartUp readStartUp(const QStringList& arguments, const QProcessEnvironment& environment)
{
    StartUp startUp;
    QStringList ours{arguments.value(0, QStringLiteral("lumora"))};
    startUp.error = splitQtArguments(arguments, ours, startUp.qtArguments);
    if (!startUp.error.isEmpty())
        return startUp;

    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("DEVICE"));
    const QCommandLineOption source(QStringLiteral("source"), QString(), QStringLiteral("SPEC"));
    const QCommandLineOption outputBuffer(QStringLiteral("output-buffer"), QString(), QStringLiteral("BYTES"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    QCommandLineParser parser;
    parser.addOptions({port, source, outputBuffer, listPorts, help, version});
    if (!parser.parse(ours)) {
        // Qt words it as a sentence: "Unknown option 'x'."
        QString error = parser.errorText();
        if (error.endsWith('.'))
            error.chop(1);
        if (!error.isEmpty())
            error[0] = error[0].toLower();
        startUp.error = error;
        return startUp;
    }
    if (!parser.positionalArguments().isEmpty()) {
        startUp.error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return startUp;
    }
    if (parser.isSet(help)) {
        startUp.action = StartAction::Help;
        return startUp;
    }
    if (parser.isSet(version)) {
        startUp.action = StartAction::Version;
        return startUp;
    }
    if (parser.isSet(listPorts))
        startUp.action = StartAction::ListPorts;

    const QString filePath = settingsFilePath(environment);
    FileSettings file;
    startUp.error = readSettingsFile(filePath, file);
    if (!startUp.error.isEmpty())
        return startUp;

    Settings& settings = startUp.settings;
    const QString portVariable = environment.value(QStringLiteral("LUMORA_PORT"));
    if (parser.isSet(port)) {
        settings.port = parser.value(port);
        settings.portOrigin = QStringLiteral("--port");
        if (settings.port.isEmpty()) {
            startUp.error = QStringLiteral("--port needs a device");
            return startUp;
        }
    } else if (!portVariable.isEmpty()) {
        settings.port = portVariable;
        settings.portOrigin = QStringLiteral("LUMORA_PORT");
    } else if (file.port) {
        settings.port = *file.port;
        settings.portOrigin = filePath;
    } else {
        settings.port = SerialLine::defaultDevice(1);
        settings.portOrigin = QStringLiteral("default");
    }

    const QString sourceVariable = environment.value(QStringLiteral("LUMORA_SOURCE"));
    QString sourceOrigin;
    if (parser.isSet(source)) {
        settings.source = parser.value(source);
        sourceOrigin = QStringLiteral("--source ");
    } else if (!sourceVariable.isEmpty()) {
        settings.source = sourceVariable;
        sourceOrigin = QStringLiteral("LUMORA_SOURCE=");
    } else {
        settings.source = file.source.value_or(kDefaultSource);
    }
    if (!sourceOrigin.isEmpty()) {
        if (const auto problem = sourceProblem(settings.source)) {
            startUp.error = sourceOrigin + settings.source + QStringLiteral(": ") + *problem;
            return startUp;
        }
    }

    if (parser.isSet(outputBuffer)) {
        const QString text = parser.value(outputBuffer);
        if (const auto problem = outputBufferProblem(text, settings.outputBuffer)) {
            startUp.error = QStringLiteral("--output-buffer %1: %2").arg(text, *problem);
            return startUp;
        }
    } else {
        settings.outputBuffer = file.outputBuffer.value_or(wire::kOutputBufferBytes);
    }
    return startUp;
}

bool hasGraphicalSession(const QProcessEnvironment& environment, const QStringList& qtArguments)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!environment.value(QLatin1String(name)).isEmpty())
            return true;
    for (const QString& argument : qtArguments) {
        const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1).section('=', 0, 0);
        if (name == QLatin1String("platform"))
            return true;
    }
    return false;
}

QString versionText()
{
    return QStringLiteral("lumora " LUMORA_VERSION "\n");
}

QString portChoiceHint(const QProcessEnvironment& environment)
{
    return QStringLiteral("Choose the display's port with --port DEVICE, or with a line port=DEVICE\n"
                          "in %1.\n"
                          "Lumora never picks a port on its own: bytes sent to the wrong device can disturb it.")
        .arg(settingsFilePath(environment));
}

QString listPortsText(const Settings& settings, const QProcessEnvironment& environment)
{
    const QString origin = settings.portOrigin == QLatin1String("default") ? QStringLiteral("the default")
                                                                            : QStringLiteral("from ") + settings.portOrigin;
    return QStringLiteral("Serial ports on this computer:\n%1\n\nLumora uses %2 (%3).\n%4\n")
        .arg(describeSerialPorts(findSerialPorts(settings.port), settings.port), settings.port, origin,
             portChoiceHint(environment));
}

QString helpText(const QProcessEnvironment& environment)
{
    return QStringLiteral(R"(Usage: lumora [options]

Lumora turns the music playing on this computer into pictures on a light
display attached to a serial port (57600 baud, 8N1). Press Start to stream
to the display, Stop to blank it.

Options:
  --port DEVICE          The display's serial port: /dev/ttyUSB0, or better
                         its stable name /dev/serial/by-id/... (see
                         --list-ports). Default: serial port 1, /dev/ttyS0.
  --source SPEC          The sound to show: auto (the default: what the
                         computer plays, else a demo tune), pulse, pulse:NAME,
                         fifo:PATH, file:PATH or demo.
  --output-buffer BYTES  How many bytes may wait for the serial line, %1 to
                         %2 (the default). Fewer bytes waiting, less lag
                         between the music and the lamps: 512 bytes take
                         89 ms to go out, 84 bytes 15 ms.
  --list-ports           List the serial ports, say which one Lumora uses,
                         and exit.
  -h, --help             Show this text and exit.
  --version              Show Lumora's version and exit.
Qt's own options (-platform NAME, -style NAME, ...) are passed on to Qt.

Each setting comes from the first of these that gives it:
  1. the command line;
  2. the environment: LUMORA_PORT, LUMORA_SOURCE;
  3. the settings file %3;
  4. the default.
The settings file is yours: Lumora reads it and never writes it. It holds
up to three lines; a value with a comma needs double quotes:
  port=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
  source=pulse
  outputBuffer=84
A wrong value or an unknown key there stops Lumora with a message that
names it, as does a wrong argument.

Exit status: 0 when the window was closed; 1 when the audio source could
not be attached; 2 for a wrong argument or setting, or when an error ended
Lumora.
)")
        .arg(wire::kSmallestOutputBufferBytes)
        .arg(wire::kOutputBufferBytes)
        .arg(settingsFilePath(environment));
}

}  // namespace lumora
