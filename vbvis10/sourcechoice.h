// SPDX-License-Identifier: GPL-3.0-or-later
// The words that choose libVbVis10's audio source and its sensitivity, as
// LUMORA_SOURCE and LUMORA_SENSITIVITY, and Lumora's --source, source=,
// --sensitivity and sensitivity= take them. Plain C++, shared by the
// library (which opens the source) and the program (which checks the
// choice before it starts).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumora::vbvis {

// The accepted forms, for messages.
inline constexpr std::string_view kSourceChoiceForms = "auto, pulse, pulse:NAME, fifo:PATH, file:PATH, demo";

// Which source a choice names. Unset, empty or "auto": Auto.
struct SourceChoice {
    enum class Kind { Auto, Pulse, Fifo, File, Demo };
    Kind kind = Kind::Auto;
    std::string argument;  // pulse: source name (empty: default output's monitor); fifo, file: path
};

// Parses "auto", "pulse", "pulse:NAME", "fifo:PATH", "file:PATH" or "demo";
// anything else (including an empty NAME or PATH) gives no choice.
std::optional<SourceChoice> parseSourceChoice(std::string_view text);

// What can be told about a choice without opening it: false, with
// `problem` saying why, for a fifo: path that is absent or not a named
// pipe, a file: path that is absent or a directory. True for the other
// kinds (a sound server is only asked at installation).
bool sourceChoiceUsable(const SourceChoice& choice, std::string& problem);

// How loud the lamps take the music to be (see sensitivity.h).
enum class SensitivityMode { Automatic, Fixed };
inline constexpr std::string_view kSensitivityForms = "auto, fixed";

// Unset, empty or "auto": Automatic; "fixed": Fixed; anything else none.
std::optional<SensitivityMode> parseSensitivityMode(std::string_view text);

}  // namespace lumora::vbvis
