// SPDX-License-Identifier: GPL-3.0-or-later
#include "wireformat.h"

#include <algorithm>
#include <cassert>

namespace lumora::wire {

Cycle blankCycle()
{
    Cycle cycle;
    cycle.lamps.fill(kBlankLamp);
    cycle.text.fill(kBlankChar);
    return cycle;
}

bool isBlanking(const Cycle& cycle)
{
    return cycle == blankCycle();
}

std::array<std::uint8_t, kCycleBytes> encode(const Cycle& cycle)
{
    std::array<std::uint8_t, kCycleBytes> bytes{};
    std::copy(cycle.lamps.begin(), cycle.lamps.end(), bytes.begin());
    std::transform(cycle.text.begin(), cycle.text.end(), bytes.begin() + kLampBytes,
                   [](char c) { return static_cast<std::uint8_t>(c); });
    return bytes;
}

Cycle decode(std::span<const std::uint8_t> bytes)
{
    assert(bytes.size() == kCycleBytes);
    Cycle cycle;
    std::copy_n(bytes.begin(), kLampBytes, cycle.lamps.begin());
    std::transform(bytes.begin() + kLampBytes, bytes.begin() + kCycleBytes, cycle.text.begin(),
                   [](std::uint8_t b) { return static_cast<char>(b); });
    return cycle;
}

namespace {

std::vector<Step> stepsFor(const Cycle& cycle, int yieldsAfterGroup, int yieldsAfterChar)
{
    std::vector<Step> steps;
    steps.reserve(kRows + kTextLength);
    for (int row = 0; row < kRows; ++row) {
        auto first = cycle.lamps.begin() + row * kColumns;
        steps.push_back({{first, first + kColumns}, yieldsAfterGroup});
    }
    for (char c : cycle.text)
        steps.push_back({{static_cast<std::uint8_t>(c)}, yieldsAfterChar});
    return steps;
}

}  // namespace

std::vector<Step> cycleSteps(const Cycle& cycle)
{
    return stepsFor(cycle, kYieldsAfterLampGroup, kYieldsAfterTextChar);
}

std::vector<Step> blankingSteps()
{
    std::vector<Step> steps{{{}, kBlankingHoldOffYields}};
    auto rest = stepsFor(blankCycle(), kYieldsAfterBlankGroup, kYieldsAfterBlankChar);
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

}  // namespace lumora::wire
