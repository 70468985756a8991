// SPDX-License-Identifier: GPL-3.0-or-later
#include "spectrumvalues.h"

#include <algorithm>
#include <cmath>

namespace lumora::vbvis {

namespace {

bool finerThanSixteenBits(std::span<const float> samples)
{
    return std::any_of(samples.begin(), samples.end(), [](float s) { return s != std::nearbyint(s); });
}

}  // namespace

void SpectrumValues::update(Samples left, Samples right, double seconds)
{
    const std::array<BandPowers, 2> powers{m_analyzer.compute(left), m_analyzer.compute(right)};
    m_sensitivity.setResolution(finerThanSixteenBits(left) || finerThanSixteenBits(right) ? Resolution::Finer
                                                                                          : Resolution::SixteenBits);
    m_sensitivity.observe(powers[0], powers[1], seconds);
    for (std::size_t channel = 0; channel < 2; ++channel) {
        std::array<double, kBands> levels;
        for (int b = 0; b < kBands; ++b)
            levels[static_cast<std::size_t>(b)] = m_sensitivity.level(b, powers[channel][static_cast<std::size_t>(b)]);
        encodeLevels(levels, m_values[channel]);
    }
}

}  // namespace lumora::vbvis
