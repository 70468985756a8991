// SPDX-License-Identifier: GPL-3.0-or-later
// The scrolling text of the light display. A run starts from the initial
// text; each consumed timer tick rotates it left by one character, and each
// cycle sends its first 20 characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumora {

// 48 characters, the last one a space, so the text wraps with a gap.
inline constexpr std::string_view kInitialMarqueeText = "Megacool - zelf gemaakt se - schoon hee ;-) ... ";

// The text without its first character, followed by that character.
void rotateLeft(std::string& text);

// Called at the start of each cycle: when a tick is pending (scrollFlag is
// exactly -1) rotates the text once and clears the flag. At most one
// rotation per call, however many ticks fell since the last.
void consumeTick(std::int16_t& scrollFlag, std::string& text);

// Characters 1..20 of the text, the part a cycle sends.
std::string_view marqueeSlice(const std::string& text);

}  // namespace lumora
