// SPDX-License-Identifier: GPL-3.0-or-later
// Lumora's settings and command line: which serial port the display is on,
// which audio source the library listens to and how sensitive it is, how
// many bytes may wait for the serial line, the text on the display's line,
// and whether a run starts by itself.
//
// Each setting comes from the first place that gives it:
//   1. the command line (--port, --source, --sensitivity, --output-buffer,
//      --text, --start),
//   2. the environment (LUMORA_PORT, LUMORA_SOURCE, LUMORA_SENSITIVITY;
//      empty counts as unset),
//   3. the settings file, $XDG_CONFIG_HOME/lumora/lumora.conf, by default
//      ~/.config/lumora/lumora.conf: an INI file with the keys port, source,
//      sensitivity, outputBuffer, text, textFallback and start, which Lumora
//      reads and never writes,
//   4. the default: serial port 1 (/dev/ttyS0), source auto, sensitivity
//      auto, 512 bytes, the fixed marquee text, no start of its own.
//
// All of it is read and checked before any window exists, so that --help,
// --version, --list-ports and a wrong argument need no display. A wrong
// value anywhere, and any unknown key in the settings file, is an error
// that names where it stands. Plain Qt Core.
#pragma once

#include "wireformat.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace lumora {

inline constexpr int kExitBadArguments = 2;  // a wrong argument or setting

struct Settings {
    QString port;        // the device behind serial port 1
    QString portOrigin;  // where it was chosen: "--port", "LUMORA_PORT", the settings file, "default"
    QString source;      // as LUMORA_SOURCE takes it: auto, pulse, pulse:NAME, fifo:PATH, file:PATH, demo
    int outputBuffer = wire::kOutputBufferBytes;
    QString text;                                  // empty: the fixed marquee text; "now-playing": the media player's
    QString textFallback;                          // with now-playing, when nothing plays; empty: the fixed text
    bool start = false;                            // press Start as soon as the window shows
    QString sensitivity = QStringLiteral("auto");  // as LUMORA_SENSITIVITY takes it: auto, fixed
    bool operator==(const Settings&) const = default;
};

enum class StartAction { Run, Help, Version, ListPorts };

struct StartUp {
    StartAction action = StartAction::Run;
    Settings settings;
    QStringList qtArguments;  // the window system's own (-platform NAME, -style NAME, ...)
    QString error;            // set: nothing else holds; Lumora says it and ends with kExitBadArguments
};

// arguments: the whole command line, program name first.
StartUp readStartUp(const QStringList& arguments, const QProcessEnvironment& environment);

// $XDG_CONFIG_HOME/lumora/lumora.conf when XDG_CONFIG_HOME is an absolute
// path, else $HOME/.config/lumora/lumora.conf.
QString settingsFilePath(const QProcessEnvironment& environment);

}  // namespace lumora
