// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of lumora-sim. Plain C++ so that tests can parse.
#pragma once

#include "avrboard.h"
#include "simulateddisplay.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumora::sim {

struct Options {
    std::string firmware;  // --firmware ELF; empty: the one built with lumora-sim
    Bootloader bootloader = Bootloader::None;
    std::string link;
    bool headless = false;
    bool printUpdates = false;
    bool resetOnOpen = false;
    bool selfTestJumper = false;
    double seconds = 0;  // simulated; 0: no limit
    std::uint64_t quitAfterBlankings = 0;
    std::vector<long> snapshots;  // ms
    // Faults, at simulated milliseconds.
    std::optional<long> lcdPoweredAt;
    struct Glitch {
        LcdGlitch kind;
        long atMs;
        std::uint64_t afterStrobes;
    };
    std::vector<Glitch> lcdGlitches;
    std::optional<long> lampsPowerUp;
    std::vector<std::uint64_t> framingErrors;  // receptions
    struct Hang {
        long atMs;
        bool interruptsOff;
    };
    std::optional<Hang> hang;
    bool help = false;
};

// Parses the arguments after the program name. On failure returns nothing
// and sets `error`.
std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error);

// defaultFirmware: the image built with the program.
std::string helpText(const std::string& defaultFirmware);

}  // namespace lumora::sim
