// SPDX-License-Identifier: GPL-3.0-or-later
#include "meters.h"

#include "failure.h"

#include <cmath>
#include <limits>
#include <string>

namespace lumora::meters {

std::int32_t roundToInt32(double value)
{
    const double rounded = std::nearbyint(value);  // FE_TONEAREST: halves to even
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() && rounded <= std::numeric_limits<std::int32_t>::max()))
        throw Failure(FailureNumber::Overflow, "width " + std::to_string(value));
    return static_cast<std::int32_t>(rounded);
}

std::int32_t vuWidth(std::int16_t vu, std::int32_t vuMaxWidth)
{
    std::int32_t w = roundToInt32(static_cast<double>(vuMaxWidth) / kVuFullScale * vu);
    if (w > vuMaxWidth)
        w = vuMaxWidth;
    return w;
}

std::array<std::int32_t, kBands> bandSums(std::span<const std::uint8_t> values)
{
    if (values.size() > kMaxBandValues)
        throw Failure(FailureNumber::Overflow, std::to_string(values.size()) +
                                                   " spectrum values (a 16-bit index counts " +
                                                   std::to_string(kMaxBandValues) + ")");
    std::array<std::int32_t, kBands> sums{};
    const double n = static_cast<double>(values.size());
    // The index is a 16-bit counter; the bridge never delivers more than
    // 16383 values.
    for (std::int16_t j = 0; j < static_cast<std::int32_t>(values.size()); ++j) {
        auto band = static_cast<std::int16_t>(std::floor(static_cast<double>(j) * 10 / n));
        if (band > 7)
            band = 7;
        sums[static_cast<std::size_t>(band)] += values[static_cast<std::size_t>(j)];
    }
    return sums;
}

std::int32_t bandWidth(int band, std::int32_t sum, std::int32_t spectrumMaxWidth)
{
    const auto fourB = static_cast<std::int16_t>(4 * band);
    std::int32_t w = roundToInt32((static_cast<double>(fourB) + 7) * spectrumMaxWidth / 56000 * sum);
    if (w < 0)
        w = 0;
    if (w > spectrumMaxWidth)
        w = spectrumMaxWidth;
    return w;
}

std::array<std::int32_t, kBands> spectrumWidths(const std::optional<std::vector<std::uint8_t>>& spectrum,
                                                std::int32_t spectrumMaxWidth)
{
    const auto sums = spectrum ? bandSums(*spectrum) : std::array<std::int32_t, kBands>{};
    std::array<std::int32_t, kBands> widths{};
    for (int b = 0; b < kBands; ++b)
        widths[static_cast<std::size_t>(b)] = bandWidth(b, sums[static_cast<std::size_t>(b)], spectrumMaxWidth);
    return widths;
}

}  // namespace lumora::meters
