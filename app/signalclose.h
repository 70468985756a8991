// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM close the window like its close button, so a running
// stream finishes its cycle, blanks the display and closes the port before
// the program ends. The signal handler only writes a byte to a socket pair;
// the window thread reads it through a QSocketNotifier.
#pragma once

namespace lumora {

class FrmMain;

// Returns false when the socket pair could not be made (signals then keep
// their default action).
bool closeOnSignals(FrmMain& window);

}  // namespace lumora
