// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lumora::vbvis {

// A generated piece of music for machines without sound: 120 beats per
// minute, a kick drum on every beat, a snare on beats 2 and 4, hi-hats on
// every eighth note, a bass line, chords on a four-bar progression, and
// stereo movement (the hi-hats and the chords pan slowly in opposite
// directions). Deterministic: the same frame index gives the same sound.
//
// What does not depend on the moment in the piece is made once, on
// construction (about 1.2 MB): one period of each of the three tone
// colours (a sum of harmonics, read with linear interpolation from 8192
// points, within 0.1 of a 16-bit step of the sum itself), and the drum and
// note envelopes over a beat or an eighth note, sample by sample.
class DemoSignal {
public:
    DemoSignal();

    // Fills interleaved left/right 16-bit frames and moves on by that many.
    void render(std::span<int16_t> interleaved);

private:
    double sampleAt(std::int64_t frame, double& right);
    double noise();

    std::vector<double> m_bassWave;                               // one period: 10 harmonics, 1/k
    std::vector<double> m_padWave;                                // 6 harmonics, 1/k^1.3
    std::vector<double> m_arpWave;                                // 8 harmonics, 1/k
    std::vector<double> m_kick;                                   // per sample of a beat
    std::vector<double> m_snareNoise, m_snareBody;                // per sample of a beat
    std::vector<double> m_eighthFade, m_openHatFade, m_bassFade;  // per sample of an eighth
    std::vector<double> m_tickFade, m_arpFade;                    // per sample of an eighth, restarting each sixteenth
    std::int64_t m_frame = 0;
    std::uint32_t m_noiseState = 0x12345678u;
    double m_hatHistory = 0.0;
    double m_hatTone = 0.0;
};

}  // namespace lumora::vbvis
