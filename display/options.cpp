// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "arguments.h"
#include "cycledecoder.h"

namespace lumora::display {

std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error)
{
    Options options;
    Arguments reader(arguments);
    while (const std::string* next = reader.next()) {
        const std::string& argument = *next;
        auto value = [&](bool nonEmpty = false) { return reader.value(argument, error, nonEmpty); };
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--print-cycles") {
            options.printCycles = true;
        } else if (argument == "--fast") {
            options.fast = true;
        } else if (argument == "--port" || argument == "--link" || argument == "--record" || argument == "--replay") {
            const auto text = value(true);
            if (!text)
                return std::nullopt;
            (argument == "--port"     ? options.port
             : argument == "--link"   ? options.link
             : argument == "--record" ? options.record
                                      : options.replay) = *text;
        } else if (argument == "--silence-ms") {
            const auto text = value();
            int ms = 0;
            if (!text)
                return std::nullopt;
            if (!parseNumber(*text, 1, ms)) {
                error = "--silence-ms needs a whole number of milliseconds, at least 1";
                return std::nullopt;
            }
            options.silenceMs = ms;
        } else if (argument == "--quit-after-blankings") {
            const auto text = value();
            std::uint64_t count = 0;
            if (!text)
                return std::nullopt;
            if (!parseNumber<std::uint64_t>(*text, 1, count)) {
                error = "--quit-after-blankings needs a whole number, at least 1";
                return std::nullopt;
            }
            options.quitAfterBlankings = count;
        } else {
            error = "unknown argument '" + argument + "' (try --help)";
            return std::nullopt;
        }
    }
    if (!options.port.empty() && !options.replay.empty()) {
        error = "--port and --replay exclude each other";
        return std::nullopt;
    }
    if (!options.link.empty() && (!options.port.empty() || !options.replay.empty())) {
        error = "--link names the pseudo-terminal; it makes no sense with --port or --replay";
        return std::nullopt;
    }
    if (options.fast && options.replay.empty()) {
        error = "--fast only applies to --replay";
        return std::nullopt;
    }
    return options;
}

std::string helpText()
{
    using std::chrono::milliseconds;
    auto ms = [](Nanoseconds value) { return std::to_string(std::chrono::duration_cast<milliseconds>(value).count()); };
    return R"(Usage: lumora-display [options]

Plays the Lumora light display on screen: reads the byte stream that Lumora
sends to its serial port and shows the 8 x 8 lamp groups and the text line.

Input (one of):
  (default)               Create a pseudo-terminal and read it. Its path is
                          printed as the first line on standard output:
                            lumora-display: listening on /dev/pts/N
                          Point Lumora at it (LUMORA_PORT=/dev/pts/N).
  --link PATH             Also keep a symbolic link PATH to the
                          pseudo-terminal, removed again on exit.
  --port DEVICE           Read a real serial port (57600 baud, 8N1).
  --replay FILE           Play a recording made with --record, with its
                          recorded timing. It must start with the line
                          "# lumora-display recording 1"; a bad line further
                          on ends the replay with its line number.
  --fast                  With --replay: do not wait, send everything at once
                          (the recorded times still decide the decoding).

Decoding:
  --silence-ms N          A silence longer than N ms starts a new cycle; a
                          partial cycle is then dropped (a resync). Without
                          it the threshold is learned: )" +
           std::to_string(wire::LearnedSilence<Nanoseconds, kLearningCycles>::kFactor) + R"( times the longest pause
                          inside recent cycles, kept within )" +
           ms(kSilenceFloor) + "..." + ms(kSilenceCeiling) + R"( ms
                          ()" +
           ms(kInitialSilence) + R"( ms until the first cycle is complete).
                          Pauses are counted in the sender's event-loop
                          passes, so their length depends on its machine.
  Inside a run the count is kept in step by the content, as the display's
  firmware does: a cycle is shown only if its 64 lamp bytes are levels 0..8
  in bar or dot mode (0, 1, 3, 7, .., 255 or 0, 1, 2, 4, .., 128) and its 20
  characters printable ASCII. A lost, added or corrupted byte costs the
  cycle that held it, and the count moves back to where the cycles are (a
  realignment), in most streams by the end of the next cycle.

Output:
  --record FILE           Write every byte read, with its arrival time. The
                          file is text, one line per read:
                            # lumora-display recording 1
                            <microseconds since start> <bytes in lowercase hex>
                          e.g. "1843 000103070f" ('#' lines are comments).
  --headless              No window. Ends on SIGINT/SIGTERM, at the end of a
                          replay or when the input fails.
  --print-cycles          One line per decoded cycle on standard output:
                            C <seq> <168 hex digits: the 84 bytes>  a cycle
                            B <seq> <168 hex digits>  a blanking sequence
                            R <seq>  bytes dropped before the next cycle:
                                     a partial cycle at a silence, or bytes
                                     that broke the content rule; <seq> is
                                     the number the next cycle gets
                          <seq> counts cycles and blankings together from 1.
  --quit-after-blankings N  Exit after the Nth blanking sequence.
  --help                  This text.
  --version               The program's version.

On exit a summary goes to standard output:
  cycles: N        ordinary cycles (84 bytes, not a blanking sequence)
  blankings: N     blanking sequences (64 zero bytes, 20 spaces)
  resyncs: N       partial cycles dropped after a silence
  realignments: N  counts moved because the content was out of step
  dropped: N       bytes in no cycle shown
  bytes: N         bytes read
The exit status is 0; 1 when the input failed; 2 when an argument was wrong.

The window: band 0 is the top row. Each row shows eight groups of eight
lamps: left now, left -1, left -2, left -3, right -3, right -2, right -1,
right now; in a group lamp 1 (bit 0, level 1) is on the left.
)";
}

}  // namespace lumora::display
