// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>

namespace lumora::vbvis {

// A generated piece of music for machines without sound: 120 beats per
// minute, a kick drum on every beat, a snare on beats 2 and 4, hi-hats on
// every eighth note, a bass line, chords on a four-bar progression, and
// stereo movement (the hi-hats and the chords pan slowly in opposite
// directions). Deterministic: the same frame index gives the same sound.
class DemoSignal {
public:
    // Fills interleaved left/right 16-bit frames and moves on by that many.
    void render(std::span<int16_t> interleaved);

private:
    double sampleAt(double t, double &right);
    double noise();

    std::int64_t m_frame = 0;
    std::uint32_t m_noiseState = 0x12345678u;
    double m_hatHistory = 0.0;
    double m_hatTone = 0.0;
};

} // namespace lumora::vbvis
