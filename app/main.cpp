// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora: turns the music playing on the computer into pictures on a light
// display attached to a serial port.
//
// The command line, the environment and the settings file are read and
// checked first, before any window exists (settings.h); only then does the
// window system start.
#include "errorreport.h"
#include "frmmain.h"
#include "marquee.h"
#include "marqueetext.h"
#include "nowplaying.h"
#include "serialline.h"
#include "settings.h"
#include "signalclose.h"
#include "usage.h"
#include "windowsystem.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Started from a desktop menu, Lumora has no terminal that would show what
// it writes on stderr.
bool hasTerminal()
{
    return ::isatty(STDIN_FILENO) || ::isatty(STDERR_FILENO);
}

}  // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const lumora::StartUp startUp = lumora::readStartUp(arguments, environment);
    const bool graphical = lumora::hasGraphicalSession(environment, startUp.qtArguments);

    if (!startUp.error.isEmpty()) {
        print(stderr, QStringLiteral("lumora: %1 (see lumora --help)\n").arg(startUp.error));
        if (!hasTerminal() && graphical) {
            std::optional<lumora::WindowSystemStart> start(std::in_place, "lumora", lumora::kExitBadArguments);
            QApplication app(argc, argv);
            start.reset();
            if (lumora::errorBoxCanBeSeen())
                lumora::showErrorBox(startUp.error);
        }
        return lumora::kExitBadArguments;
    }
    switch (startUp.action) {
    case lumora::StartAction::Help: print(stdout, lumora::helpText(environment)); return lumora::kExitOk;
    case lumora::StartAction::Version: print(stdout, lumora::versionText()); return lumora::kExitOk;
    case lumora::StartAction::ListPorts:
        print(stdout, lumora::listPortsText(startUp.settings, environment));
        return lumora::kExitOk;
    case lumora::StartAction::Run: break;
    }
    if (!graphical) {
        print(stderr, QStringLiteral("lumora: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set): "
                                     "start Lumora from your desktop.\n"));
        return lumora::kExitBadArguments;
    }

    // The library reads its source and sensitivity from the environment
    // when it installs.
    qputenv("LUMORA_SOURCE", startUp.settings.source.toLocal8Bit());
    qputenv("LUMORA_SENSITIVITY", startUp.settings.sensitivity.toLocal8Bit());
    // A repaint of the bars is a few thin strips. Through X's shared memory
    // Qt waits for the server to let go of the image at every frame (a round
    // trip: a sleep and a wake-up, 69 times a second); through the socket
    // the strips cost less than that, the X server's time included.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    lumora::preferQtEventDispatcher();
    std::optional<lumora::WindowSystemStart> start(std::in_place, "lumora", lumora::kExitBadArguments);
    QApplication app(argc, argv);
    start.reset();
    QApplication::setApplicationName("Lumora");
    QApplication::setDesktopFileName("lumora");

    lumora::FrmMain window;
    window.MSComm1->setPortOneDevice(startUp.settings.port);
    window.MSComm1->setOutputBufferBytes(startUp.settings.outputBuffer);
    const lumora::Settings& settings = startUp.settings;
    const std::string fixedText(lumora::kInitialMarqueeText);
    std::unique_ptr<lumora::NowPlaying> nowPlaying;
    if (settings.text == lumora::kNowPlayingText) {
        nowPlaying = std::make_unique<lumora::NowPlaying>(
            settings.textFallback.isEmpty() ? fixedText : lumora::marqueeText(settings.textFallback));
        nowPlaying->start();
        window.setNowPlaying(nowPlaying.get());
    } else if (!settings.text.isEmpty()) {
        window.setMarqueeText(lumora::marqueeText(settings.text));
    }
    if (!window.Form_Load())
        return lumora::kExitInstallFailed;
    lumora::closeOnSignals(window);
    window.show();
    if (settings.start)  // as a click would, once the window is up
        QTimer::singleShot(0, window.Command1, &QPushButton::click);
    return app.exec();
}
