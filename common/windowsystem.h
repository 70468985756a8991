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

namespace lumora {

class WindowSystemStart {
public:
    // program: the name the line starts with ("lumora").
    WindowSystemStart(const char* program, int exitStatus);
    ~WindowSystemStart();
    WindowSystemStart(const WindowSystemStart&) = delete;
    WindowSystemStart& operator=(const WindowSystemStart&) = delete;
};

}  // namespace lumora
