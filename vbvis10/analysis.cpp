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

constexpr double kBinHz = static_cast<double>(kSampleRate) / kFftLength;
constexpr std::size_t kBins = kFftLength / 2 + 1;

}  // namespace

double bandEdgeHz(int b)
{
    return b <= 0 ? kLowestHz : kHighestHz / std::pow(2.0, kBands - std::min(b, kBands));
}

int16_t vuFromSamples(std::span<const float> samples)
{
    if (samples.empty())
        return 0;
    double sum = 0.0;
    for (const double s : samples)
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

BandAnalyzer::BandAnalyzer()
{
    // A window that leans towards the newest samples: half a Hann window
    // rising over the first three quarters, half of one falling over the
    // last quarter (11.6 ms), so that a beat shows in the first analysis
    // after it instead of waiting for the window's middle.
    constexpr std::size_t kFall = 512;
    constexpr std::size_t kRise = kFftLength - kFall;
    for (std::size_t i = 0; i < kFftLength; ++i) {
        const double x = i < kRise ? static_cast<double>(i) / kRise : 1.0 + static_cast<double>(i - kRise) / kFall;
        m_window[i] = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
    }
    // Bin k stands for [k - 1/2, k + 1/2) bin widths; each band takes the
    // part of that it covers.
    for (int b = 0; b < kBands; ++b) {
        const double low = bandEdgeHz(b) / kBinHz;
        const double high = bandEdgeHz(b + 1) / kBinHz;
        for (std::size_t k = 1; k + 1 < kBins; ++k) {
            const double overlap =
                std::min(high, static_cast<double>(k) + 0.5) - std::max(low, static_cast<double>(k) - 0.5);
            if (overlap > 0)
                m_bins[static_cast<std::size_t>(b)].push_back({k, std::min(overlap, 1.0)});
        }
    }

    // Scratch arrays only for planning; compute() runs the plan on its own
    // stack arrays, which FFTW_UNALIGNED permits.
    {
        std::lock_guard lock(plannerMutex());
        double* in = fftw_alloc_real(kFftLength);
        fftw_complex* out = fftw_alloc_complex(kBins);
        fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(kFftLength), in, out,
                                              FFTW_ESTIMATE | FFTW_UNALIGNED | FFTW_DESTROY_INPUT);
        fftw_free(in);
        fftw_free(out);
        if (!plan)
            throw std::runtime_error("FFTW could not make a plan");
        m_plan = plan;
    }

    // The reference: a full-scale sine's power over all bins (the same
    // wherever it lies, the window's spread included).
    std::array<float, kFftLength> sine;
    for (std::size_t i = 0; i < kFftLength; ++i)
        sine[i] = static_cast<float>(32767.0 *
                                     std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / kSampleRate));
    double total = 0.0;
    const BandPowers asOne = compute(sine);
    for (double db : asOne)
        total += db > kSilentDb ? std::pow(10.0, db / 10.0) : 0.0;
    m_fullScalePower = total;
}

BandAnalyzer::~BandAnalyzer()
{
    std::lock_guard lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(m_plan));
}

BandPowers BandAnalyzer::compute(std::span<const float, kFftLength> samples) const
{
    BandPowers powers;
    powers.fill(kSilentDb);
    std::array<double, kFftLength> in;
    std::array<fftw_complex, kBins> out;
    bool silent = true;
    for (std::size_t i = 0; i < kFftLength; ++i) {
        in[i] = samples[i] * m_window[i];
        silent = silent && samples[i] == 0.0f;
    }
    if (silent)
        return powers;
    fftw_execute_dft_r2c(static_cast<fftw_plan>(m_plan), in.data(), out.data());
    for (int b = 0; b < kBands; ++b) {
        double power = 0.0;
        for (const Share& share : m_bins[static_cast<std::size_t>(b)])
            power += share.weight * (out[share.bin][0] * out[share.bin][0] + out[share.bin][1] * out[share.bin][1]);
        if (power > 0.0)
            powers[static_cast<std::size_t>(b)] = 10.0 * std::log10(power / m_fullScalePower);
    }
    return powers;
}

}  // namespace lumora::vbvis
