// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of a streaming run that are not the window: what one cycle
// carries, and the sending of a cycle's or the blanking sequence's writes
// with their pauses (see wireformat.h for the byte stream).
#pragma once

#include "framematrix.h"
#include "wireformat.h"

#include <string>
#include <vector>

namespace lumora {

class EventPump;
class LineOutput;

// The cycle of the current frame and marquee: FrameMatrix(r, c) in row
// order, then characters 1..20 of the text (padded with spaces if shorter).
// A lamp value outside 0..255 has no byte and throws Overflow.
wire::Cycle currentCycle(const LampFrame& frame, const std::string& marqueeText);

// Writes each step's bytes, then yields as many times as the step's pause
// says (EventPump::pause).
void sendSteps(LineOutput& line, const std::vector<wire::Step>& steps, EventPump& pump);

}  // namespace lumora
