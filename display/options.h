// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of lumora-display. Plain C++ so that tests can parse.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumora::display {

struct Options {
    std::string port;              // --port DEVICE: a real serial port instead of a pty
    std::string link;              // --link PATH: a stable symbolic link to the pty
    std::optional<int> silenceMs;  // --silence-ms N; none: learned
    std::string record;            // --record FILE
    std::string replay;            // --replay FILE
    bool fast = false;             // --fast: replay without waiting
    bool headless = false;
    bool printCycles = false;
    std::optional<std::uint64_t> quitAfterBlankings;
    bool help = false;
    bool version = false;  // --version
};

// Parses the arguments after the program name. On failure returns nothing
// and sets `error`.
std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error);

std::string helpText();

}  // namespace lumora::display
