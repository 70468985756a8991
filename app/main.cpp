// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora: turns the music playing on the computer into pictures on a light
// display attached to a serial port.
#include "errorreport.h"
#include "frmmain.h"
#include "signalclose.h"

#include <QApplication>

int main(int argc, char* argv[])
{
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
