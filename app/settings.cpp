// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include "marqueetext.h"
#include "serialline.h"
#include "sourcechoice.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSettings>

#include <algorithm>
#include <array>

namespace lumora {

namespace {

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

// One setting: where each place gives it, how its text is checked, and
// where it goes. Each setting comes from the first place that gives it:
// the command line, the environment (empty counts as unset), the settings
// file, the default.
struct SettingRule {
    QString key;        // in the settings file
    QString option;     // on the command line; empty: none
    QString valueName;  // the option's value; empty: a flag, which gives "true"
    QString variable;   // in the environment; empty: none
    QString fallback;   // the default
    bool (*usable)(const QString& text, QString& problem);
    void (*store)(Settings& settings, const QString& text);
    bool trimmed = true;  // in the file: spaces at the ends dropped
};

bool deviceNamed(const QString& text, QString& problem)
{
    problem = QStringLiteral("names no device");
    return !text.isEmpty();
}

bool trueOrFalse(const QString& text, QString& problem)
{
    problem = QStringLiteral("not true or false");
    return text == QLatin1String("true") || text == QLatin1String("false");
}

bool sensitivityUsable(const QString& text, QString& problem)
{
    problem = QStringLiteral("not one of %1")
                  .arg(QString::fromUtf8(vbvis::kSensitivityForms.data(), vbvis::kSensitivityForms.size()));
    return !text.isEmpty() && vbvis::parseSensitivityMode(text.toStdString()).has_value();
}

bool outputBufferUsable(const QString& text, QString& problem)
{
    int bytes = 0;
    return readOutputBuffer(text, bytes, problem);
}

const std::array<SettingRule, 7>& settingRules()
{
    static const std::array<SettingRule, 7> rules{{
        {QStringLiteral("port"), QStringLiteral("port"), QStringLiteral("DEVICE"), QStringLiteral("LUMORA_PORT"),
         SerialLine::defaultDevice(1), deviceNamed, [](Settings& s, const QString& t) { s.port = t; }},
        {QStringLiteral("source"), QStringLiteral("source"), QStringLiteral("SPEC"), QStringLiteral("LUMORA_SOURCE"),
         QStringLiteral("auto"), sourceUsable, [](Settings& s, const QString& t) { s.source = t; }},
        {QStringLiteral("sensitivity"), QStringLiteral("sensitivity"), QStringLiteral("auto|fixed"),
         QStringLiteral("LUMORA_SENSITIVITY"), QStringLiteral("auto"), sensitivityUsable,
         [](Settings& s, const QString& t) { s.sensitivity = t; }},
        {QStringLiteral("outputBuffer"), QStringLiteral("output-buffer"), QStringLiteral("BYTES"), QString(),
         QString::number(wire::kOutputBufferBytes), outputBufferUsable,
         [](Settings& s, const QString& t) { s.outputBuffer = t.toInt(); }},
        {QStringLiteral("text"), QStringLiteral("text"), QStringLiteral("TEXT"), QString(), QString(),
         textSettingUsable, [](Settings& s, const QString& t) { s.text = t; }, false},
        {QStringLiteral("textFallback"), QString(), QString(), QString(), QString(), textUsable,
         [](Settings& s, const QString& t) { s.textFallback = t; }, false},
        {QStringLiteral("start"), QStringLiteral("start"), QString(), QString(), QStringLiteral("false"), trueOrFalse,
         [](Settings& s, const QString& t) { s.start = t == QLatin1String("true"); }},
    }};
    return rules;
}

// Reads and checks the whole settings file into `values` (key to text); a
// missing file gives nothing. False, with `error` naming the file, the key
// and the value, for anything wrong in it.
bool readSettingsFile(const QString& path, QHash<QString, QString>& values, QString& error)
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
    QStringList known;
    for (const SettingRule& rule : settingRules())
        known << rule.key;
    for (const QString& key : keys) {
        const QVariant raw = settings.value(key);
        if (raw.typeId() == QMetaType::QStringList)
            return fail(path + QStringLiteral(": %1=%2: a value with a comma needs double quotes")
                                   .arg(key, raw.toStringList().join(',')));
        const auto rule = std::find_if(settingRules().begin(), settingRules().end(),
                                       [&](const SettingRule& r) { return r.key == key; });
        if (rule == settingRules().end())
            return fail(path + QStringLiteral(": unknown key '%1' (the keys are %2, at the top of the file)")
                                   .arg(key, known.join(QStringLiteral(", "))));
        // A text keeps the spaces at its ends: they belong to a scrolling text.
        const QString value = rule->trimmed ? raw.toString().trimmed() : raw.toString();
        if (QString problem; !rule->usable(value, problem))
            return fail(path + QStringLiteral(": %1=%2: ").arg(key, value) + problem);
        values.insert(key, value);
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

    QCommandLineParser parser;
    for (const SettingRule& rule : settingRules())
        if (!rule.option.isEmpty())
            parser.addOption(QCommandLineOption(rule.option, QString(), rule.valueName));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({listPorts, help, version});
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
    QHash<QString, QString> file;
    if (!readSettingsFile(filePath, file, startUp.error))
        return startUp;

    for (const SettingRule& rule : settingRules()) {
        QString text;
        QString origin;  // where it came from, as Settings::portOrigin names it
        QString said;    // how an error names it, before the value
        if (!rule.option.isEmpty() && parser.isSet(rule.option)) {
            text = rule.valueName.isEmpty() ? QStringLiteral("true") : parser.value(rule.option);
            origin = QStringLiteral("--") + rule.option;
            said = origin + (text.isEmpty() ? QString() : QStringLiteral(" "));
        } else if (!rule.variable.isEmpty() && !environment.value(rule.variable).isEmpty()) {
            text = environment.value(rule.variable);
            origin = rule.variable;
            said = origin + QStringLiteral("=");
        } else if (file.contains(rule.key)) {
            text = file.value(rule.key);  // checked as the file was read
            origin = filePath;
        } else {
            text = rule.fallback;
            origin = QStringLiteral("default");
        }
        if (QString problem; !said.isEmpty() && !rule.usable(text, problem)) {
            startUp.error = said + text + QStringLiteral(": ") + problem;
            return startUp;
        }
        rule.store(startUp.settings, text);
        if (rule.key == QLatin1String("port"))
            startUp.settings.portOrigin = origin;
    }
    return startUp;
}

}  // namespace lumora
