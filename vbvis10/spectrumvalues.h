// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysis.h"
#include "sensitivity.h"
#include "spectrumlayout.h"

#include <array>
#include <cstdint>
#include <span>

namespace lumora::vbvis {

// The spectrum values the library hands over for the newest sound of both
// channels: their band powers, read as lamp levels by one sensitivity that
// follows both, laid out for the program. Sound whose samples are not all
// whole 16-bit steps is taken as finer than 16 bits (see Sensitivity).
// One thread at a time.
class SpectrumValues {
public:
    using Samples = std::span<const float, kFftLength>;
    using Values = std::array<uint8_t, kSpectrumValues>;

    explicit SpectrumValues(SensitivityMode mode = SensitivityMode::Automatic) : m_sensitivity(mode) { }

    // The newest kFftLength samples of each channel, oldest first, after
    // `seconds` of sound since the last update.
    void update(Samples left, Samples right, double seconds);

    // Channel 0 is left, any other right.
    const Values& values(int channel) const { return m_values[channel == 0 ? 0 : 1]; }
    const Sensitivity& sensitivity() const { return m_sensitivity; }
    // Starts afresh with the mode.
    void setMode(SensitivityMode mode) { m_sensitivity = Sensitivity(mode); }

private:
    BandAnalyzer m_analyzer;
    Sensitivity m_sensitivity;
    std::array<Values, 2> m_values{};
};

}  // namespace lumora::vbvis
