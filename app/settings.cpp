// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include "marqueetext.h"
#include "serialline.h"
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
const QString kTextKey = QStringLiteral("text");
const QString kTextFallbackKey = QStringLiteral("textFallback");
const QString kStartKey = QStringLiteral("start");
const QString kDefaultSource = QStringLiteral("auto");

// Qt's own command-line options (QGuiApplication and QApplication), which
// Lumora passes on to Qt. Qt takes them with one dash or two.
constexpr std::array kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry", "geometry", "qwindowtitle",
    "title",    "qwindowicon",        "icon",          "session", "display",         "style",    "stylesheet",
    "name"};
constexpr std::array kQtFlags = {"reverse", "widgetcount", "testability", "nograb", "dograb", "sync"};

template <std::size_t N> bool contains(const std::array<const char*, N>& names, const QString& name)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

// Splits the arguments after the program name into Qt's and Lumora's own.
// False, with `error` set, for a Qt option that lacks its value.
bool splitQtArguments(const QStringList& arguments, QStringList& ours, QStringList& qt, QString& error)
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
            if (!hasInlineValue && i + 1 >= arguments.size()) {
                error = argument + QStringLiteral(" needs a value");
                return false;
            }
            qt << argument;
            if (!hasInlineValue)
                qt << arguments[++i];
        } else if (contains(kQtFlags, name) && !hasInlineValue) {
            qt << argument;
        } else {
            ours << argument;
        }
    }
    return true;
}

// Whether Lumora can use a source choice; if not, `problem` says why.
bool sourceUsable(const QString& source, QString& problem)
{
    const auto choice = vbvis::parseSourceChoice(source.toStdString());
    if (!choice) {
        problem = QStringLiteral("not one of %1")
                      .arg(QString::fromUtf8(vbvis::kSourceChoiceForms.data(), vbvis::kSourceChoiceForms.size()));
        return false;
    }
    std::string why;
    if (!vbvis::sourceChoiceUsable(*choice, why)) {
        problem = QString::fromStdString(why);
        return false;
    }
    return true;
}

bool readOutputBuffer(const QString& text, int& bytes, QString& problem)
{
    bool ok = false;
    bytes = text.toInt(&ok);
    if (ok && bytes >= wire::kSmallestOutputBufferBytes && bytes <= wire::kOutputBufferBytes)
        return true;
    problem = QStringLiteral("not a whole number of bytes from %1 to %2")
                  .arg(wire::kSmallestOutputBufferBytes)
                  .arg(wire::kOutputBufferBytes);
    return false;
}

// The text setting: a text the line can show, or now-playing.
bool textSettingUsable(const QString& text, QString& problem)
{
    return text == kNowPlayingText || textUsable(text, problem);
}

struct FileSettings {
    std::optional<QString> port;
    std::optional<QString> source;
    std::optional<int> outputBuffer;
    std::optional<QString> text;
    std::optional<QString> textFallback;
    std::optional<bool> start;
};

// Reads and checks the whole settings file; a missing file gives nothing.
// False, with `error` naming the file, the key and the value, for anything
// wrong in it.
bool readSettingsFile(const QString& path, FileSettings& file, QString& error)
{
    const auto fail = [&error](QString why) {
        error = std::move(why);
        return false;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    if (!info.isFile() || !info.isReadable())
        return fail(path + QStringLiteral(": cannot be read"));
    QSettings settings(path, QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    if (settings.status() != QSettings::NoError)
        return fail(path + QStringLiteral(": not a settings file Lumora can read: every line is key=value, "
                                          "a comment line starts with ';'"));
    for (const QString& key : keys) {
        const QVariant raw = settings.value(key);
        if (raw.typeId() == QMetaType::QStringList)
            return fail(path + QStringLiteral(": %1=%2: a value with a comma needs double quotes")
                                   .arg(key, raw.toStringList().join(',')));
        const QString value = raw.toString().trimmed();
        const QString where = path + QStringLiteral(": %1=%2: ").arg(key, value);
        if (key == kPortKey) {
            if (value.isEmpty())
                return fail(where + QStringLiteral("names no device"));
            file.port = value;
        } else if (key == kSourceKey) {
            QString problem;
            if (!sourceUsable(value, problem))
                return fail(where + problem);
            file.source = value;
        } else if (key == kOutputBufferKey) {
            int bytes = 0;
            QString problem;
            if (!readOutputBuffer(value, bytes, problem))
                return fail(where + problem);
            file.outputBuffer = bytes;
        } else if (key == kTextKey || key == kTextFallbackKey) {
            // Kept as written: spaces at its ends belong to a scrolling text.
            const QString text = raw.toString();
            QString problem;
            if (!(key == kTextKey ? textSettingUsable(text, problem) : textUsable(text, problem)))
                return fail(path + QStringLiteral(": %1=%2: ").arg(key, text) + problem);
            (key == kTextKey ? file.text : file.textFallback) = text;
        } else if (key == kStartKey) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                return fail(where + QStringLiteral("not true or false"));
            file.start = value == QLatin1String("true");
        } else {
            return fail(path + QStringLiteral(": unknown key '%1' (the keys are %2, at the top of the file)")
                                   .arg(key, QStringList{kPortKey, kSourceKey, kOutputBufferKey, kTextKey,
                                                         kTextFallbackKey, kStartKey}
                                                 .join(QStringLiteral(", "))));
        }
    }
    return true;
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
    if (!splitQtArguments(arguments, ours, startUp.qtArguments, startUp.error))
        return startUp;

    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("DEVICE"));
    const QCommandLineOption source(QStringLiteral("source"), QString(), QStringLiteral("SPEC"));
    const QCommandLineOption outputBuffer(QStringLiteral("output-buffer"), QString(), QStringLiteral("BYTES"));
    const QCommandLineOption text(QStringLiteral("text"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption start(QStringLiteral("start"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    QCommandLineParser parser;
    parser.addOptions({port, source, outputBuffer, text, start, listPorts, help, version});
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
    if (!readSettingsFile(filePath, file, startUp.error))
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
        if (QString problem; !sourceUsable(settings.source, problem)) {
            startUp.error = sourceOrigin + settings.source + QStringLiteral(": ") + problem;
            return startUp;
        }
    }

    if (parser.isSet(outputBuffer)) {
        const QString text = parser.value(outputBuffer);
        if (QString problem; !readOutputBuffer(text, settings.outputBuffer, problem)) {
            startUp.error = QStringLiteral("--output-buffer %1: %2").arg(text, problem);
            return startUp;
        }
    } else {
        settings.outputBuffer = file.outputBuffer.value_or(wire::kOutputBufferBytes);
    }

    if (parser.isSet(text)) {
        settings.text = parser.value(text);
        if (QString problem; !textSettingUsable(settings.text, problem)) {
            startUp.error = QStringLiteral("--text %1: %2").arg(settings.text, problem);
            return startUp;
        }
    } else {
        settings.text = file.text.value_or(QString());
    }
    settings.textFallback = file.textFallback.value_or(QString());
    settings.start = parser.isSet(start) || file.start.value_or(false);
    return startUp;
}

}  // namespace lumora
