// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumora::vbvis {

// Sample rate every source delivers, in frames per second.
inline constexpr int kSampleRate = 44100;
// FFT length: the newest 1152 samples (26 ms), giving 38.28 Hz per bin.
inline constexpr std::size_t kFftLength = 1152;
// Spectrum values per channel: bins 0 .. kFftLength/2 - 1 (0 Hz up to just
// below half the sample rate; the Nyquist bin is left out).
inline constexpr std::size_t kSpectrumValues = kFftLength / 2;
// VU window: the newest 1024 samples, 23.2 ms.
inline constexpr std::size_t kVuLength = 1024;

// Byte scale of the spectrum: logarithmic in level, bent towards the top,
// with a floor that rises over the top octave:
//   value = 255 * (1 - dB / floor(f)) ^ kCurve, clamped to 0..255,
//   floor(f) = kLowFloorDb + kFloorRiseDb * (f / 22050 Hz) ^ kFloorRisePower,
// where dB is the bin's magnitude relative to kReferenceDb below the
// magnitude of a full-scale sine centred on a bin, and f the bin's
// frequency. The reference sits 1.5 dB below full scale because a Hann
// window loses up to 1.42 dB on a sine that falls between two bins, so any
// full-scale sine fills its bin at every frequency. A bin at or below its
// floor reads 0, and exact silence reads 0. The floor stays within 1 dB of
// -90 dB up to 10 kHz, passes -84 dB at 15.5 kHz, -62 dB at 20 kHz and
// reaches -40 dB at 22 kHz: music has little energy up there, and the
// program sums the top three tenths of the bins into one band with five
// times the gain of the lowest, so those bins must need real treble to
// count. The curve (kCurve > 1) keeps the many quiet bins of the wide upper
// bands small. The measurement behind these numbers is written down in
// vbvis10.h.
inline constexpr double kReferenceDb = 1.5;
inline constexpr double kLowFloorDb = -90.0;
inline constexpr double kFloorRiseDb = 50.0;
inline constexpr double kFloorRisePower = 6.0;
inline constexpr double kCurve = 2.2;

// The floor of bin 0 .. kSpectrumValues - 1 in dB (negative), as above.
double floorDbOfBin(std::size_t bin);

// RMS of the samples in 16-bit units, rounded, at most 32767. Empty: 0.
int16_t vuFromSamples(std::span<const int16_t> samples);

// Writes the values as two uppercase hex digits each, value 0 first, into
// text, never more than text.size() characters (a last odd character gets
// the high digit of its value). Returns the number of characters written.
std::size_t writeHex(std::span<const uint8_t> values, std::span<char> text);

// Turns the newest kFftLength samples of one channel into kSpectrumValues
// bytes. Owns one FFTW plan, made on construction; FFTW's planner is not
// thread-safe, so construction takes a process-wide lock. compute() is
// thread-safe and allocates nothing.
class SpectrumAnalyzer {
public:
    SpectrumAnalyzer();
    ~SpectrumAnalyzer();
    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    // samples: the kFftLength newest samples, oldest first.
    void compute(std::span<const int16_t, kFftLength> samples, std::span<uint8_t, kSpectrumValues> values) const;

private:
    void* m_plan = nullptr;  // fftw_plan; kept opaque so this header needs no fftw3.h
    std::array<double, kFftLength> m_window{};
    // Per bin: the squared magnitude at its floor (at or below it: 0), and
    // 10 / -floor(f), so that 1 - dB / floor(f) = log10(power / floorPower) * that.
    std::array<double, kSpectrumValues> m_floorPower{};
    std::array<double, kSpectrumValues> m_dbScale{};
};

}  // namespace lumora::vbvis
