// SPDX-License-Identifier: GPL-3.0-or-later
#include "meters.h"

#include "failure.h"

#include <algorithm>
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
    // Value j goes to band floor(j * 10 / n) (bands above 7 folded into 7).
    // Where each band starts is found with that same expression, so the
    // sums are the per-value ones exactly; in between they are plain runs.
    const auto size = static_cast<std::int32_t>(values.size());
    const double n = static_cast<double>(size);
    const auto bandOf = [n](std::int32_t j) { return std::floor(static_cast<double>(j) * 10 / n); };
    std::array<std::int32_t, kBands + 1> start{};
    start[kBands] = size;
    for (int b = 1; b < kBands; ++b) {
        std::int32_t j = std::min(size, static_cast<std::int32_t>(static_cast<std::int64_t>(b) * size / 10));
        while (j > 0 && bandOf(j - 1) >= b)
            --j;
        while (j < size && bandOf(j) < b)
            ++j;
        start[static_cast<std::size_t>(b)] = j;
    }
    std::array<std::int32_t, kBands> sums{};
    for (std::size_t b = 0; b < kBands; ++b)
        for (std::int32_t j = start[b]; j < start[b + 1]; ++j)
            sums[b] += values[static_cast<std::size_t>(j)];
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
