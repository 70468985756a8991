// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace lumora::vbvis {

namespace {

// FFTW's planner keeps global state; every plan made or destroyed in this
// process by this library goes through here.
std::mutex& plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Magnitude of the bin of a full-scale (32767) sine centred on it, after a
// Hann window: amplitude * sum(window) / 2 = 32767 * N / 4.
constexpr double kFullScaleMagnitude = 32767.0 * kFftLength / 4.0;

// 255 * above ^ kCurve for above > 0, rounded and clamped to 0..255.
uint8_t scaledByte(double above)
{
    if (above >= 1.0)
        return 255;
    return static_cast<uint8_t>(std::lround(255.0 * std::exp(kCurve * std::log(above))));
}

}  // namespace

double floorDbOfBin(std::size_t bin)
{
    const double f = static_cast<double>(bin) * kSampleRate / kFftLength;
    return kLowFloorDb + kFloorRiseDb * std::pow(f / (kSampleRate / 2.0), kFloorRisePower);
}

int16_t vuFromSamples(std::span<const int16_t> samples)
{
    if (samples.empty())
        return 0;
    double sum = 0.0;
    for (int16_t s : samples)
        sum += static_cast<double>(s) * s;
    const long rms = std::lround(std::sqrt(sum / static_cast<double>(samples.size())));
    return static_cast<int16_t>(std::min(rms, 32767L));
}

std::size_t writeHex(std::span<const uint8_t> values, std::span<char> text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::size_t written = 0;
    for (uint8_t v : values) {
        if (written < text.size())
            text[written++] = kDigits[v >> 4];
        if (written < text.size())
            text[written++] = kDigits[v & 0x0F];
        else
            break;
    }
    return written;
}

SpectrumAnalyzer::SpectrumAnalyzer()
{
    for (std::size_t i = 0; i < kFftLength; ++i)
        m_window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / kFftLength);
    for (std::size_t k = 0; k < kSpectrumValues; ++k) {
        const double floorDb = floorDbOfBin(k);
        m_floorPower[k] = kFullScaleMagnitude * kFullScaleMagnitude * std::pow(10.0, (floorDb - kReferenceDb) / 10.0);
        m_dbScale[k] = 10.0 / -floorDb;
    }

    // Scratch arrays only for planning; compute() runs the plan on its own
    // stack arrays, which FFTW_UNALIGNED permits.
    std::lock_guard lock(plannerMutex());
    double* in = fftw_alloc_real(kFftLength);
    fftw_complex* out = fftw_alloc_complex(kFftLength / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(kFftLength), in, out,
                                          FFTW_ESTIMATE | FFTW_UNALIGNED | FFTW_DESTROY_INPUT);
    fftw_free(in);
    fftw_free(out);
    if (!plan)
        throw std::runtime_error("FFTW could not make a plan");
    m_plan = plan;
}

SpectrumAnalyzer::~SpectrumAnalyzer()
{
    std::lock_guard lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
}

void SpectrumAnalyzer::compute(std::span<const int16_t, kFftLength> samples,
                               std::span<uint8_t, kSpectrumValues> values) const
{
    std::array<double, kFftLength> in;
    std::array<fftw_complex, kFftLength / 2 + 1> out;
    bool silent = true;
    for (std::size_t i = 0; i < kFftLength; ++i) {
        in[i] = samples[i] * m_window[i];
        silent = silent && samples[i] == 0;
    }
    if (silent) {
        std::fill(values.begin(), values.end(), uint8_t{0});
        return;
    }
    fftw_execute_dft_r2c(static_cast<fftw_plan>(m_plan), in.data(), out.data());
    // The scale with the per-bin constants made once; the many bins at or
    // below their floor are settled by one comparison.
    for (std::size_t k = 0; k < kSpectrumValues; ++k) {
        const double power = out[k][0] * out[k][0] + out[k][1] * out[k][1];
        values[k] = power > m_floorPower[k] ? scaledByte(std::log10(power / m_floorPower[k]) * m_dbScale[k]) : 0;
    }
}

}  // namespace lumora::vbvis
