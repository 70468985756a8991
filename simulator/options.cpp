// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "arguments.h"

namespace lumora::sim {

namespace {

// KIND@MS or KIND@MS+N.
bool parseGlitch(const std::string& text, Options::Glitch& glitch)
{
    const auto at = text.find('@');
    if (at == std::string::npos || !lcdGlitchFromName(text.substr(0, at), glitch.kind))
        return false;
    const std::string_view rest = std::string_view(text).substr(at + 1);
    const auto plus = rest.find('+');
    glitch.afterStrobes = 0;
    return parseNumber(rest.substr(0, plus), 0L, glitch.atMs) &&
           (plus == std::string_view::npos ||
            parseNumber<std::uint64_t>(rest.substr(plus + 1), 1, glitch.afterStrobes));
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error)
{
    Options options;
    Arguments reader(arguments);
    while (const std::string* next = reader.next()) {
        const std::string& argument = *next;
        auto value = [&](bool nonEmpty = false) { return reader.value(argument, error, nonEmpty); };
        auto milliseconds = [&](long& ms) {
            const auto text = value();
            if (text && parseNumber(*text, 0L, ms))
                return true;
            if (text)
                error = argument + " needs a whole number of milliseconds, not " + *text;
            return false;
        };
        long ms = 0;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--print-updates") {
            options.printUpdates = true;
        } else if (argument == "--reset-on-open") {
            options.resetOnOpen = true;
        } else if (argument == "--self-test-jumper") {
            options.selfTestJumper = true;
        } else if (argument == "--firmware" || argument == "--link") {
            const auto text = value(true);
            if (!text)
                return std::nullopt;
            (argument == "--firmware" ? options.firmware : options.link) = *text;
        } else if (argument == "--bootloader") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            if (!bootloaderFromName(*text, options.bootloader)) {
                error = "--bootloader is optiboot, old or none, not " + *text;
                return std::nullopt;
            }
        } else if (argument == "--seconds") {
            const auto text = value();
            if (!text)
                return std::nullopt;
            if (!parseNumber(*text, 0.0, options.seconds)) {
                error = "--seconds needs a number of seconds, not " + *text;
                return std::nullopt;
            }
        } else if (argument == "--quit-after-blankings" || argument == "--framing-error") {
            const auto text = value();
            std::uint64_t n = 0;
            if (!text)
                return std::nullopt;
            if (!parseNumber<std::uint64_t>(*text, 1, n)) {
                error = argument + " needs a whole number, at least 1, not " + *text;
                return std::nullopt;
            }
            if (argument == "--framing-error")
                options.framingErrors.push_back(n);
            else
                options.quitAfterBlankings = n;
        } else if (argument == "--snapshot" || argument == "--lcd-powered-at" || argument == "--lamps-power-up" ||
                   argument == "--hang" || argument == "--hang-interrupts-off") {
            if (!milliseconds(ms))
                return std::nullopt;
            if (argument == "--snapshot")
                options.snapshots.push_back(ms);
            else if (argument == "--lcd-powered-at")
                options.lcdPoweredAt = ms;
            else if (argument == "--lamps-power-up")
                options.lampsPowerUp = ms;
            else
                options.hang = Options::Hang{ms, argument == "--hang-interrupts-off"};
        } else if (argument == "--lcd-glitch") {
            const auto text = value();
            Options::Glitch glitch{};
            if (!text)
                return std::nullopt;
            if (!parseGlitch(*text, glitch)) {
                error = "--lcd-glitch needs KIND@MS or KIND@MS+N, KIND one of stray-e, power-drop, 8-bit; not " + *text;
                return std::nullopt;
            }
            options.lcdGlitches.push_back(glitch);
        } else {
            error = "unknown argument '" + argument + "' (try --help)";
            return std::nullopt;
        }
    }
    return options;
}

std::string helpText(const std::string& defaultFirmware)
{
    return R"(Usage: lumora-sim [OPTION]...
Runs the light display's firmware on a simulated ATmega328P at 16 MHz, in
real time, with eight MAX7219 lamp drivers and a 20x2 LCD. It creates a
pseudo-terminal, prints "lumora-sim: listening on /dev/pts/N", and puts
what arrives there on the simulated serial line (57600 8N1), bit by bit,
at the line's pace.

  --firmware ELF         the firmware image (default: the one built with
                         this program, )" +
           defaultFirmware + R"()
  --bootloader NAME      the bootloader in front of the firmware, the real
                         image a board carries: optiboot (Uno, Nano with the
                         new bootloader; 115200 baud), old (Nano with the
                         old bootloader; 57600 baud) or none (the default:
                         a board flashed with a programmer)
  --reset-on-open        reset the board whenever a sender opens the port, as
                         DTR does on an Uno or Nano (prints "R <ms>" with
                         --print-updates)
  --link PATH            keep a symbolic link PATH to the pseudo-terminal
  --headless             no window; print a summary at the end
  --print-updates        print the display after each update it makes:
                           U <n> <ms> <us> <64 lamp bytes in hex> |<line 1>|<line 2>|
                         <ms>: simulated time since the start; <us>: the
                         time since the last received byte (0: none)
  --seconds S            stop after S simulated seconds
  --quit-after-blankings N
                         stop after the display has shown N blankings
  --snapshot MS          print what the display shows at MS simulated
                         milliseconds, with --print-updates:
                           S <ms> <64 lamp bytes in hex> |<line 1>|<line 2>|
  --self-test-jumper     fit the self-test jumper (D2 to ground): at power-up
                         the display tests its lamps and LCD

Faults a real board meets, at MS simulated milliseconds:
  --lcd-powered-at MS    the LCD gets power only then (it ignores the
                         firmware's start-up, and comes up blank)
  --lcd-glitch KIND@MS[+N]
                         at MS, or right after the firmware's Nth strobe of
                         the LCD's E line from then (which picks a nibble of
                         a write): stray-e, a pulse on E from nothing the
                         firmware did; power-drop, the LCD's supply drops for
                         20 ms; 8-bit, the LCD falls back to its 8-bit
                         interface (may be repeated)
  --lamps-power-up MS    the lamp drivers power up again (a glitch on the
                         LED supply): shut down, digit registers random
  --framing-error N      the firmware's Nth received byte since it started
                         comes with a framing error (may be repeated)
  --hang MS              the firmware's main loop stops dead, interrupts
                         still served (a CPU derailed by a supply sag)
  --hang-interrupts-off MS
                         the same with interrupts disabled
  -h, --help             this text

The summary: the bytes on the line and what the board did with them
(received, framing errors, overruns: bytes a real chip would have lost;
taken by the bootloader, with the first 64 in hex; unheard while the chip
was in reset), updates, the
LCD's instructions lost because they came while it was busy and its timing
violations, the bootloader's flash and EEPROM writes, the resets, simulated
and wall time, the largest lag behind real time, the share of CPU cycles
the firmware was awake, the deepest its stack went, and the time from the last received byte of a
cycle to lamps and LCD showing it.
)";
}

}  // namespace lumora::sim
