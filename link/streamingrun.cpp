// SPDX-License-Identifier: GPL-3.0-or-later
#include "streamingrun.h"

#include "eventpump.h"
#include "failure.h"
#include "lineoutput.h"
#include "marquee.h"

#include <algorithm>

namespace lumora {

wire::Cycle currentCycle(const LampFrame& frame, const std::string& marqueeText)
{
    wire::Cycle cycle;
    for (int r = 1; r <= wire::kRows; ++r) {
        for (int c = 1; c <= wire::kColumns; ++c) {
            const std::int16_t value = frame(r, c);
            if (value < 0 || value > 255)
                throw Failure(FailureNumber::Overflow, "lamp value " + std::to_string(value) + " is not a byte");
            cycle.lamps[static_cast<std::size_t>((r - 1) * wire::kColumns + (c - 1))] =
                static_cast<std::uint8_t>(value);
        }
    }
    const std::string_view slice = marqueeSlice(marqueeText);
    cycle.text.fill(wire::kBlankChar);
    std::copy(slice.begin(), slice.end(), cycle.text.begin());
    return cycle;
}

void sendSteps(LineOutput& line, const std::vector<wire::Step>& steps, EventPump& pump)
{
    for (const wire::Step& step : steps) {
        if (!step.bytes.empty())
            line.write(step.bytes);
        pump.pause(step.yieldsAfter);
    }
}

}  // namespace lumora
