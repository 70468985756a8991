// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM close the window like its close button, so a running
// stream finishes its cycle, blanks the display and closes the port before
// the program ends; a second one ends the program at once (see
// terminationsignals.h).
#pragma once

namespace lumora {

class FrmMain;

// Returns false when the signals could not be routed (they then keep their
// default action).
bool closeOnSignals(FrmMain& window);

}  // namespace lumora
