// SPDX-License-Identifier: GPL-3.0-or-later
// Starting the window system without Qt's advice to reinstall.
//
// When DISPLAY (or WAYLAND_DISPLAY) names a server that cannot be reached,
// Qt prints its platform plugin's complaints, advises reinstalling the
// program and aborts. While a WindowSystemStart lives, those messages are
// held back; if Qt gives up, the program says in one plain line that there
// is no graphical session to be reached and exits with the given status.
// If the start succeeds, the held messages go on to the previous handler
// when the guard ends. Main thread only; one guard at a time.
#pragma once

#include <QProcessEnvironment>
#include <QStringList>

namespace lumora {

// Whether a window can be shown at all: a display server named in the
// environment, or a Qt platform chosen by argument or QT_QPA_PLATFORM.
bool hasGraphicalSession(const QProcessEnvironment& environment, const QStringList& qtArguments);

// Chooses Qt's own event dispatcher over glib's, unless QT_NO_GLIB is set
// already (set empty, it brings glib back). A pass through the event loop
// costs a third of glib's for the same timers, clicks and repaints, and a
// window fed 69 cycles a second wakes for every one. Call before the
// application object exists.
void preferQtEventDispatcher();

class WindowSystemStart {
public:
    // program: the name the line starts with ("lumora").
    WindowSystemStart(const char* program, int exitStatus);
    ~WindowSystemStart();
    WindowSystemStart(const WindowSystemStart&) = delete;
    WindowSystemStart& operator=(const WindowSystemStart&) = delete;
};

}  // namespace lumora
