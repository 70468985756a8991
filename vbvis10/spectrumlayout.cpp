// SPDX-License-Identifier: GPL-3.0-or-later
#include "spectrumlayout.h"

#include <algorithm>
#include <cmath>

namespace lumora::vbvis {

namespace {

// The program's scale: a band's bar fills its 795 twips at (4b + 7) / 56000
// of the sum per twip, and a level is 100 twips.
constexpr double kFullWidthTwips = 795.0;
constexpr double kTwipsPerLevel = 100.0;

double sumForLevel(int b, double level)
{
    return level * kTwipsPerLevel * 56000.0 / ((4.0 * b + 7.0) * kFullWidthTwips);
}

}  // namespace

std::size_t firstValueOfBand(int b)
{
    constexpr std::size_t kTenth = kSpectrumValues / 10;
    return static_cast<std::size_t>(std::min(b, 7)) * kTenth + (b > 7 ? 3 * kTenth : 0);
}

void encodeLevels(const std::array<double, kBands>& levels, std::span<uint8_t, kSpectrumValues> values)
{
    for (int b = 0; b < kBands; ++b) {
        const std::size_t first = firstValueOfBand(b);
        const std::size_t count = firstValueOfBand(b + 1) - first;
        const double level = std::clamp(levels[static_cast<std::size_t>(b)], 0.0, kTopLevel);
        const auto sum = static_cast<std::size_t>(std::lround(sumForLevel(b, level)));
        for (std::size_t i = 0; i < count; ++i)
            values[first + i] = static_cast<uint8_t>(std::min<std::size_t>(255, sum / count + (i < sum % count)));
    }
}

}  // namespace lumora::vbvis
