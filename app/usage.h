// SPDX-License-Identifier: GPL-3.0-or-later
// What Lumora says about itself on the terminal: --help, --version, the
// port list of --list-ports, and how to choose a port.
#pragma once

#include "settings.h"

#include <QProcessEnvironment>
#include <QString>

namespace lumora {

QString helpText(const QProcessEnvironment& environment);
QString versionText();
// The serial ports, the one the settings choose, and how to choose another.
QString listPortsText(const Settings& settings, const QProcessEnvironment& environment);
// What the report of a port that cannot be opened adds: how to choose one.
QString portChoiceHint(const QProcessEnvironment& environment);

}  // namespace lumora
