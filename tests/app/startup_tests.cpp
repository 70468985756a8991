// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's settings and command line: where each setting comes from, and
// the real program answering --help, --version, --list-ports and wrong
// settings before any window exists.
#include "errorreport.h"
#include "pty.h"
#include "settings.h"
#include "wireformat.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

#include <sys/file.h>
#include <sys/stat.h>

namespace lumora {
// For failure messages.
void PrintTo(const Settings& s, std::ostream* out)
{
    *out << (QStringList{s.port, s.portOrigin, s.source, QString::number(s.outputBuffer), s.text, s.textFallback,
                         s.start ? "start" : "no start", s.sensitivity}
                 .join(" | ")
                 .toStdString());
}
}  // namespace lumora

namespace {

using lumora::readStartUp;
using lumora::Settings;
using lumora::StartAction;

// A settings file in a home of its own, and the environment that finds it.
class SettingsHome {
public:
    SettingsHome()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("lumora"));
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
    }

    void write(const std::optional<QString>& contents)
    {
        QFile::remove(file());
        if (!contents)
            return;
        QFile out(file());
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(contents->toUtf8());
    }
    QString file() const { return m_dir.filePath(QStringLiteral("lumora/lumora.conf")); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QProcessEnvironment& environment() { return m_environment; }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
};

TEST(Settings, CommandLineBeatsEnvironmentBeatsFileBeatsDefault)
{
    SettingsHome home;
    const QString fifo = home.path(QStringLiteral("music.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString file = home.file();
    const QString fullFile = QStringLiteral("port=/dev/ttyUSB3\nsource=fifo:%1\noutputBuffer=168\n").arg(fifo);
    struct Case {
        QStringList arguments;
        QStringList variables;  // NAME=value
        std::optional<QString> settingsFile;
        Settings expected;
    };
    const QString textFile = QStringLiteral("text=\" Hello, desk \"\ntextFallback=Idle\nstart=true\n");
    const QStringList portAndSource{"LUMORA_PORT=/dev/ttyACM0", "LUMORA_SOURCE=demo"};
    const Case cases[] = {
        {{}, {}, std::nullopt, {"/dev/ttyS0", "default", "auto", 512, "", "", false, "auto"}},
        {{}, {}, fullFile, {"/dev/ttyUSB3", file, "fifo:" + fifo, 168, "", "", false, "auto"}},
        {{}, portAndSource, fullFile, {"/dev/ttyACM0", "LUMORA_PORT", "demo", 168, "", "", false, "auto"}},
        {{"--port", "/dev/pts/9", "--source", "pulse", "--output-buffer", "84"},
         portAndSource,
         fullFile,
         {"/dev/pts/9", "--port", "pulse", 84, "", "", false, "auto"}},
        {{"--output-buffer=256"},
         {},
         QStringLiteral("source=demo\n"),
         {"/dev/ttyS0", "default", "demo", 256, "", "", false, "auto"}},
        {{"--source", "auto"},
         {"LUMORA_SOURCE=pulse:monitor"},
         QStringLiteral("[General]\nport=/dev/ttyS1\n"),
         {"/dev/ttyS1", file, "auto", 512, "", "", false, "auto"}},
        {{}, {}, textFile, {"/dev/ttyS0", "default", "auto", 512, " Hello, desk ", "Idle", true, "auto"}},
        {{"--text", "now-playing", "--start"},
         {},
         QStringLiteral("text=Hello\n"),
         {"/dev/ttyS0", "default", "auto", 512, "now-playing", "", true, "auto"}},
        {{}, {}, QStringLiteral("sensitivity=fixed\n"), {"/dev/ttyS0", "default", "auto", 512, "", "", false, "fixed"}},
        {{},
         {"LUMORA_SENSITIVITY=fixed"},
         QStringLiteral("sensitivity=auto\n"),
         {"/dev/ttyS0", "default", "auto", 512, "", "", false, "fixed"}},
        {{"--sensitivity", "auto"},
         {"LUMORA_SENSITIVITY=fixed"},
         QStringLiteral("sensitivity=fixed\n"),
         {"/dev/ttyS0", "default", "auto", 512, "", "", false, "auto"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " | " + c.variables.join(' ').toStdString() + " | " +
                     c.settingsFile.value_or("(no file)").toStdString());
        home.write(c.settingsFile);
        QProcessEnvironment environment = home.environment();
        for (const QString& variable : c.variables)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        const auto startUp = readStartUp(QStringList{"lumora"} + c.arguments, environment);
        EXPECT_EQ(startUp.error, QString());
        EXPECT_EQ(startUp.action, StartAction::Run);
        EXPECT_EQ(startUp.settings, c.expected);
    }
}

TEST(Settings, QtsOwnArgumentsGoToQt)
{
    const auto startUp =
        readStartUp({"lumora", "-platform", "offscreen", "--port", "/dev/ttyUSB0", "-style=fusion", "--reverse"},
                    SettingsHome().environment());
    EXPECT_EQ(startUp.error, QString());
    EXPECT_EQ(startUp.qtArguments, QStringList({"-platform", "offscreen", "-style=fusion", "--reverse"}));
    EXPECT_EQ(startUp.settings.port, "/dev/ttyUSB0");
}

// The real program, with no display and no terminal.
struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome runLumora(const QStringList& arguments, const QProcessEnvironment& extra = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LUMORA_PORT", "LUMORA_SOURCE", "LUMORA_SENSITIVITY"})
        environment.remove(name);
    for (const QString& name : extra.keys())
        environment.insert(name, extra.value(name));
    QProcess lumora;
    lumora.setProcessEnvironment(environment);
    lumora.start(LUMORA_PROGRAM, arguments);
    Outcome outcome;
    if (!lumora.waitForFinished(10000)) {
        lumora.kill();
        lumora.waitForFinished();
        return outcome;
    }
    outcome.status = lumora.exitStatus() == QProcess::NormalExit ? lumora.exitCode() : -1;
    outcome.out = QString::fromLocal8Bit(lumora.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(lumora.readAllStandardError());
    return outcome;
}

TEST(LumoraProgram, EachWrongSettingIsNamedAndEndsWithStatusTwo)
{
    SettingsHome home;
    const QString file = home.file();
    const QString absent = home.path("absent");
    struct Case {
        QStringList arguments;
        QString sourceVariable;
        std::optional<QString> settingsFile;
        QString message;
    };
    const Case cases[] = {
        {{"--frobnicate"}, {}, {}, "unknown option 'frobnicate'"},
        {{"--port"}, {}, {}, "missing value after '--port'"},
        {{"/dev/ttyUSB0"}, {}, {}, "unexpected argument '/dev/ttyUSB0'"},
        {{"--port="}, {}, {}, "--port: names no device"},
        {{"--sensitivity", "loud"}, {}, {}, "--sensitivity loud: not one of auto, fixed"},
        {{}, {}, QStringLiteral("sensitivity=Fixed\n"), file + ": sensitivity=Fixed: not one of auto, fixed"},
        {{"--output-buffer", "83"}, {}, {}, "--output-buffer 83: not a whole number of bytes from 84 to 512"},
        {{"--output-buffer", "lots"}, {}, {}, "--output-buffer lots: not a whole number"},
        {{"--source", "spotify"}, {}, {}, "--source spotify: not one of auto, pulse, pulse:NAME, fifo:PATH"},
        {{"--source", "fifo:" + absent}, {}, {}, "--source fifo:" + absent + ": " + absent + ": No such file"},
        {{"--source", "file:" + absent + ".wav"}, {}, {}, absent + ".wav: No such file or directory"},
        {{"--source", "fifo:" + file}, {}, QString(), file + " is not a named pipe"},
        {{}, "Demo", {}, "LUMORA_SOURCE=Demo: not one of"},
        {{}, {}, "source=fifo:" + absent, file + ": source=fifo:" + absent + ": " + absent + ": No such file"},
        {{}, {}, QStringLiteral("outputBuffer=513"), file + ": outputBuffer=513: not a whole number of bytes"},
        {{}, {}, QStringLiteral("port=\n"), file + ": port=: names no device"},
        {{}, {}, QStringLiteral("port=/dev/a,/dev/b\n"), file + ": port=/dev/a,/dev/b: a value with a comma needs"},
        {{}, {}, QStringLiteral("Port=/dev/ttyUSB0\n"), file + ": unknown key 'Port'"},
        {{"--port", "/dev/ttyUSB0"},
         {},
         QStringLiteral("[display]\nport=/dev/ttyUSB0\n"),
         file + ": unknown key 'display/port'"},
        {{"--list-ports"}, {}, QStringLiteral("# my display\nport=/dev/ttyUSB0\n"), file + ": not a settings file"},
        {{}, {}, QStringLiteral("start=yes\n"), file + ": start=yes: not true or false"},
        {{}, {}, QStringLiteral("textFallback=\n"), file + ": textFallback=: an empty text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " | " + c.settingsFile.value_or("").toStdString());
        home.write(c.settingsFile);
        QProcessEnvironment environment = home.environment();
        if (!c.sourceVariable.isEmpty())
            environment.insert("LUMORA_SOURCE", c.sourceVariable);
        const Outcome outcome = runLumora(c.arguments, environment);
        EXPECT_EQ(outcome.status, lumora::kExitBadArguments);
        EXPECT_TRUE(outcome.err.startsWith("lumora: ")) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.contains(c.message)) << outcome.err.toStdString();
        EXPECT_EQ(outcome.err.count('\n'), 1) << outcome.err.toStdString();
        EXPECT_EQ(outcome.out, QString());
    }
}

TEST(LumoraProgram, AnswersWithoutADisplay)
{
    SettingsHome home;
    lumora::testing::Pty pty;
    const QString slave = QString::fromStdString(pty.slave());
    const int holder = ::open(pty.slave().c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(holder, 0);
    struct Case {
        QStringList arguments;
        std::function<void()> before;
        int status;
        QStringList outputHas;  // on stdout, or stderr when the status is not 0
        QString display = {};   // DISPLAY, when set
    };
    const Case cases[] = {
        {{"--help"}, {}, 0, {"Usage: lumora [options]", "--output-buffer BYTES", home.file(), "outputBuffer=84"}},
        {{"--version"}, {}, 0, {"lumora " LUMORA_VERSION "\n"}},
        {{"--list-ports", "--port", slave},
         {},
         0,
         {"Serial ports on this computer:", slave + ": pseudo-terminal; open in app_tests", "<- chosen",
          "Lumora uses " + slave + " (from --port)", "port=DEVICE"}},
        {{"--port", slave, "--list-ports"},
         [&] { ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0); },
         0,
         {slave + ": pseudo-terminal; busy, locked by app_tests"}},
        {{"--port", slave}, {}, lumora::kExitBadArguments, {"lumora: no graphical session"}},
        // A server that cannot be reached: one plain line, not Qt's advice to reinstall.
        {{"--port", slave},
         {},
         lumora::kExitBadArguments,
         {"lumora: no graphical session can be reached (could not connect to display :65000)"},
         ":65000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        if (c.before)
            c.before();
        QProcessEnvironment environment = home.environment();
        if (!c.display.isEmpty())
            environment.insert("DISPLAY", c.display);
        const Outcome outcome = runLumora(c.arguments, environment);
        EXPECT_EQ(outcome.status, c.status) << outcome.err.toStdString();
        const QString& text = c.status == 0 ? outcome.out : outcome.err;
        if (c.status != 0) {
            EXPECT_EQ(text.count('\n'), 1) << text.toStdString();
        }
        for (const QString& part : c.outputHas)
            EXPECT_TRUE(text.contains(part)) << "no '" << part.toStdString() << "' in:\n" << text.toStdString();
    }
    ::close(holder);
}

// Without a terminal a wrong argument would wait in a message box, but on
// Qt's offscreen and minimal platforms nobody could see one: both programs
// say it on stderr and end with status 2.
TEST(Programs, WithoutATerminalOrAVisibleBoxAWrongArgumentEndsWithStatusTwo)
{
    for (const char* program : {LUMORA_PROGRAM, LUMORA_DISPLAY_BIN}) {
        for (const char* platform : {"offscreen", "minimal"}) {
            SCOPED_TRACE(std::string(program) + " on " + platform);
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", platform);
            process.setProcessEnvironment(environment);
            process.setStandardInputFile(QProcess::nullDevice());
            process.start(program, {"--no-such-option"});
            ASSERT_TRUE(process.waitForStarted());
            const bool ended = process.waitForFinished(30000);
            if (!ended)
                process.kill();
            ASSERT_TRUE(ended) << "it waits for a box nobody sees";
            EXPECT_EQ(process.exitCode(), lumora::kExitBadArguments);
            EXPECT_TRUE(process.readAllStandardError().contains("no-such-option"));
        }
    }
}

// A private X server, on the display number it picks itself.
class PrivateXServer {
public:
    PrivateXServer()
    {
        m_xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
        if (m_xvfb.waitForStarted() && m_xvfb.waitForReadyRead(10000))
            m_display = ":" + QString::fromLatin1(m_xvfb.readLine()).trimmed();
        // Ready once a client gets an answer, not only once it has a number.
        const QDeadlineTimer deadline(10000);
        while (!m_display.isEmpty() && !answers() && !deadline.hasExpired())
            QTest::qWait(20);
    }
    ~PrivateXServer()
    {
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
    }
    const QString& display() const { return m_display; }

    // Whether a window of that title is on the screen: one with a class,
    // as every window Qt shows has (its 1x1 leader, named after the
    // application, has none).
    bool shows(const QString& title) const { return rootTree().contains(("\"" + title + "\": (\"").toUtf8()); }

private:
    bool answers() const { return rootTree().contains("(the root window)"); }
    QByteArray rootTree() const
    {
        QProcess xwininfo;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", m_display);
        xwininfo.setProcessEnvironment(environment);
        xwininfo.start("xwininfo", {"-root", "-tree"});
        xwininfo.waitForFinished(5000);
        return xwininfo.readAllStandardOutput();
    }

    QProcess m_xvfb;
    QString m_display;
};

// A failure that ends the program (a port that cannot be opened after
// --start, a library that cannot be installed) waits in its box on a real
// screen until the user has read it; where no box can be seen it says the
// same on stderr and ends.
TEST(LumoraProgram, FailureBoxesWaitOnARealScreenAndNeverWhereNobodyCanSeeThem)
{
    PrivateXServer x;
    ASSERT_FALSE(x.display().isEmpty()) << "Xvfb did not start";
    SettingsHome home;
    struct Case {
        QStringList arguments;
        QString installVariable;  // TESTBRIDGE_INSTALL
        QString boxTitle;
        int status;
        QString line;  // on stderr, where no box can be seen
    };
    const Case cases[] = {
        {{"--start", "--port", "/dev/lumora-no-such-port"},
         {},
         "Lumora",
         lumora::kExitFailure,
         "lumora: run-time error 1005: Serial port cannot be opened: /dev/lumora-no-such-port"},
        {{}, "0", "WinAmp DERudu Demo", lumora::kExitInstallFailed, "lumora: Sorry, there was a problem installing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.boxTitle.toStdString());
        QProcessEnvironment environment = home.environment();
        if (!c.installVariable.isEmpty())
            environment.insert("TESTBRIDGE_INSTALL", c.installVariable);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        const Outcome unseen = runLumora(c.arguments, environment);
        EXPECT_EQ(unseen.status, c.status) << unseen.err.toStdString();
        EXPECT_TRUE(unseen.err.contains(c.line)) << unseen.err.toStdString();

        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", x.display());
        QProcess lumora;
        QProcessEnvironment full = QProcessEnvironment::systemEnvironment();
        full.insert(environment);
        lumora.setProcessEnvironment(full);
        lumora.start(LUMORA_PROGRAM, c.arguments);
        ASSERT_TRUE(lumora.waitForStarted());
        // One look that finds the box is the answer: xwininfo walking the
        // tree while a window comes or goes can miss the next time.
        const QDeadlineTimer deadline(10000);
        bool shown = false;
        while (!(shown = x.shows(c.boxTitle)) && lumora.state() == QProcess::Running && !deadline.hasExpired())
            QTest::qWait(50);
        EXPECT_TRUE(shown) << lumora.readAllStandardError().toStdString();
        EXPECT_FALSE(lumora.waitForFinished(300)) << "the box waits for the user";
        lumora.kill();
        lumora.waitForFinished(5000);
    }
}

// The text on the display's line, given with --text and sent by a run that
// --start began without a click: padded, transliterated, or refused as any
// wrong setting is. The first cycle's text as it arrives on the pty (the
// scroll timer may have moved it on by one character).
TEST(LumoraProgram, TextSettingReachesTheLineAsItCanShowIt)
{
    struct Case {
        QString text;
        QString shown;  // the text as the line shows it; empty: refused
        QString refusal = {};
    };
    const Case cases[] = {
        {"Hi", "Hi                  "},
        {"Bj\u00f6rk \u2013 J\u00f3ga \u201cStra\u00dfe\u201d", "Bjork - Joga \"Strasse\""},
        {"Music \U0001F3B5 on", "Music ? on          "},
        {"", "", "--text: an empty text"},
        {QString(1001, 'x'), "", "1001 characters, more than 1000"},
        {"tab\there", "", "a control character (U+0009)"},
    };
    SettingsHome home;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(40).toStdString());
        lumora::testing::Pty pty;
        lumora::testing::PtyReader reader(pty.master());
        QProcess lumora;
        QProcessEnvironment environment = home.environment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // The test library, as for every test here: under AddressSanitizer
        // the program's RUNPATH does not reach dlopen.
        environment.insert("LD_LIBRARY_PATH", qEnvironmentVariable("LD_LIBRARY_PATH"));
        lumora.setProcessEnvironment(environment);
        lumora.start(LUMORA_PROGRAM,
                     {"--start", "--source", "demo", "--port", QString::fromStdString(pty.slave()), "--text", c.text});
        ASSERT_TRUE(lumora.waitForStarted());
        if (c.shown.isEmpty()) {
            ASSERT_TRUE(lumora.waitForFinished(30000));
            EXPECT_EQ(lumora.exitCode(), lumora::kExitBadArguments);
            EXPECT_TRUE(lumora.readAllStandardError().contains(c.refusal.toUtf8()));
            continue;
        }
        const QDeadlineTimer deadline(30000);
        while (reader.count() < static_cast<std::size_t>(lumora::wire::kCycleBytes) && !deadline.hasExpired())
            QTest::qWait(10);
        lumora.terminate();
        lumora.waitForFinished(30000);
        const auto bytes = reader.received();
        ASSERT_GE(bytes.size(), static_cast<std::size_t>(lumora::wire::kCycleBytes))
            << "no cycle without a click: " << lumora.readAllStandardError().toStdString();
        const QString slice = QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()) + 64, 20);
        const QString full = c.shown.size() < 20 ? c.shown.leftJustified(20) : c.shown;
        const QString rotated = full.mid(1) + full.left(1);
        EXPECT_TRUE(slice == full.left(20) || slice == rotated.left(20)) << slice.toStdString();
    }
}

}  // namespace
