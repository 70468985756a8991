// SPDX-License-Identifier: GPL-3.0-or-later
#include "usage.h"

#include "serialports.h"
#include "wireformat.h"

namespace lumora {

QString versionText()
{
    return QStringLiteral("lumora " LUMORA_VERSION "\n");
}

QString portChoiceHint(const QProcessEnvironment& environment)
{
    return QStringLiteral("Choose the display's port with --port DEVICE, or with a line port=DEVICE\n"
                          "in %1.\n"
                          "Lumora never picks a port on its own: bytes sent to the wrong device can disturb it.")
        .arg(settingsFilePath(environment));
}

QString listPortsText(const Settings& settings, const QProcessEnvironment& environment)
{
    const QString origin = settings.portOrigin == QLatin1String("default")
                               ? QStringLiteral("the default")
                               : QStringLiteral("from ") + settings.portOrigin;
    return QStringLiteral("Serial ports on this computer:\n%1\n\nLumora uses %2 (%3).\n%4\n")
        .arg(describeSerialPorts(findSerialPorts(settings.port), settings.port), settings.port, origin,
             portChoiceHint(environment));
}

QString helpText(const QProcessEnvironment& environment)
{
    return QStringLiteral(R"(Usage: lumora [options]

Lumora turns the music playing on this computer into pictures on a light
display attached to a serial port (57600 baud, 8N1). Press Start to stream
to the display, Stop to blank it.

Options:
  --port DEVICE          The display's serial port: /dev/ttyUSB0, or better
                         its stable name /dev/serial/by-id/... (see
                         --list-ports). Default: serial port 1, /dev/ttyS0.
  --source SPEC          The sound to show: auto (the default: what the
                         computer plays, else a demo tune), pulse, pulse:NAME,
                         fifo:PATH, file:PATH or demo.
  --sensitivity auto|fixed
                         How loud the lamps take the music to be. auto (the
                         default) follows the music, so that the lamps dance
                         alike at any volume and a pause stays dark. fixed
                         is an absolute scale for tests: a full-scale tone
                         lights its band to 8, every 4.5 dB less one lamp
                         less.
  --output-buffer BYTES  How many bytes may wait for the serial line, %1 to
                         %2 (the default). Fewer bytes waiting, less lag
                         between the music and the lamps: 512 bytes take
                         89 ms to go out, 84 bytes 15 ms.
  --text TEXT            The text that scrolls on the display's line, in
                         place of the fixed one: up to 1000 characters, no
                         control characters; letters outside ASCII are
                         spelled in ASCII (e for é, ss for ß), others show
                         as '?'. --text now-playing shows "Artist - Title"
                         of the desktop's media player (MPRIS), and when
                         nothing plays the fixed text or textFallback=.
  --start                Press Start as soon as the window shows.
  --list-ports           List the serial ports, say which one Lumora uses,
                         and exit.
  -h, --help             Show this text and exit.
  --version              Show Lumora's version and exit.
Qt's own options (-platform NAME, -style NAME, ...) are passed on to Qt.

Each setting comes from the first of these that gives it:
  1. the command line;
  2. the environment: LUMORA_PORT, LUMORA_SOURCE, LUMORA_SENSITIVITY;
  3. the settings file %3;
  4. the default.
The settings file is yours: Lumora reads it and never writes it. It holds
up to seven lines; a value with a comma needs double quotes:
  port=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
  source=pulse
  sensitivity=auto
  outputBuffer=84
  text="Our band, live tonight"      (or now-playing)
  textFallback=Nothing plays          (with now-playing)
  start=true
A wrong value or an unknown key there stops Lumora with a message that
names it, as does a wrong argument.

Exit status: 0 when the window was closed; 1 when the audio source could
not be attached; 2 for a wrong argument or setting, or when an error ended
Lumora.
)")
        .arg(wire::kSmallestOutputBufferBytes)
        .arg(wire::kOutputBufferBytes)
        .arg(settingsFilePath(environment));
}

}  // namespace lumora
