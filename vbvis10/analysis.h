// SPDX-License-Identifier: GPL-3.0-or-later
// What the library hears in the newest samples of a channel: the power in
// each of the eight bands of the musical range, and the VU value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumora::vbvis {

// Sample rate every source delivers, in frames per second.
inline constexpr int kSampleRate = 44100;
// FFT length: the newest 2048 samples (46 ms), bins 21.5 Hz apart.
inline constexpr std::size_t kFftLength = 2048;
// VU window: the newest 1024 samples, 23.2 ms.
inline constexpr std::size_t kVuLength = 1024;

// The musical range, 40 Hz to 16 kHz, in eight bands: seven octaves from
// 125 Hz up, and below them band 0, 40 to 125 Hz (1.6 octaves: the kick
// drum's body, whose attack sweeps down from about 150 Hz, and the bass):
//   band   0     1     2     3     4      5      6      7
//   Hz    40   125   250   500   1000   2000   4000   8000 .. 16000
// Band 0 is the kick drum and the bass, band 7 the cymbals.
inline constexpr int kBands = 8;
inline constexpr double kLowestHz = 40.0;
inline constexpr double kHighestHz = 16000.0;
// The lower edge of band b (0..8: 8 is the top of band 7).
double bandEdgeHz(int b);

// Band powers in dB relative to a full-scale sine (amplitude 32767) lying in
// the band; kSilentDb for no sound at all.
using BandPowers = std::array<double, kBands>;
inline constexpr double kSilentDb = -300.0;

// RMS of the samples in 16-bit units, rounded, at most 32767. Empty: 0.
int16_t vuFromSamples(std::span<const float> samples);

// Writes the values as two uppercase hex digits each, value 0 first, into
// text, never more than text.size() characters (a last odd character gets
// the high digit of its value). Returns the number of characters written.
std::size_t writeHex(std::span<const uint8_t> values, std::span<char> text);

// Turns the newest kFftLength samples of one channel into band powers: the
// power of each FFT bin (Hann window) summed over the band, a bin on an
// edge shared in proportion. Owns one FFTW plan, made on construction;
// FFTW's planner is not thread-safe, so construction takes a process-wide
// lock. compute() is thread-safe and allocates nothing.
class BandAnalyzer {
public:
    BandAnalyzer();
    ~BandAnalyzer();
    BandAnalyzer(const BandAnalyzer&) = delete;
    BandAnalyzer& operator=(const BandAnalyzer&) = delete;

    // samples: the kFftLength newest samples, oldest first.
    BandPowers compute(std::span<const float, kFftLength> samples) const;

private:
    struct Share {
        std::size_t bin;
        double weight;  // the part of the bin's width inside the band
    };

    void* m_plan = nullptr;  // fftw_plan; kept opaque so this header needs no fftw3.h
    std::array<double, kFftLength> m_window{};
    std::array<std::vector<Share>, kBands> m_bins;
    double m_fullScalePower = 1.0;  // a full-scale sine's power over all bins
};

}  // namespace lumora::vbvis
