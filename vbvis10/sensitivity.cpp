// SPDX-License-Identifier: GPL-3.0-or-later
#include "sensitivity.h"

#include <algorithm>
#include <cmath>

namespace lumora::vbvis {

namespace {

constexpr double kAttackSeconds = 0.05;
constexpr double kAverageSeconds = 0.33;
constexpr double kBreathingDb = 9.0;
constexpr double kBreathingDbPerSecond = 1.0;
constexpr double kFollowDbPerSecondPerDb = 3.0;
constexpr double kFastestDbPerSecond = 30.0;
// Where the reference starts: music at an everyday loudness.
constexpr double kStartDb = -15.0;

// The level a band's lamps move about, and how long the balance takes to
// follow a change in the music's make-up.
constexpr double kMiddleLevel = 3.5;
constexpr double kBalanceSeconds = 8.0;
// The longest quiet that is still part of the music.
constexpr double kGapSeconds = 0.5;

// A sound server's dither, TPDF over one least significant bit, with the
// rounding: an RMS of half a bit, 93.3 dB below a full-scale sine over the
// whole 22.05 kHz; and how far above its share of that a band's floor is.
constexpr double kDitherDb = -93.3;
constexpr double kFinerDb = -48.2;  // 24 bits instead of 16
constexpr double kFloorMarginDb = 2.0;
constexpr double kFewBinsMarginDb = 4.0;

double fraction(double seconds, double timeConstant)
{
    return 1.0 - std::exp(-seconds / timeConstant);
}

// The whole musical range's power.
double loudness(const BandPowers& powers)
{
    double sum = 0.0;
    for (double db : powers)
        if (db > kSilentDb)
            sum += std::pow(10.0, db / 10.0);
    return sum > 0.0 ? 10.0 * std::log10(sum) : kSilentDb;
}

// The band's power against the reference that puts its mean at the middle
// level, with the given balance.
double meanFor(double balance)
{
    return (kMiddleLevel - 8.0) * Sensitivity::kDbPerLevel + Sensitivity::kTopDb - balance;
}

}  // namespace

Sensitivity::Sensitivity(SensitivityMode mode)
    : m_mode(mode), m_reference(mode == SensitivityMode::Fixed ? 0.0 : kStartDb), m_average(m_reference)
{
    if (mode == SensitivityMode::Automatic)
        m_balance = kTypicalBalanceDb;
    for (std::size_t b = 0; b < kBands; ++b)
        m_bandMean[b] = meanFor(m_balance[b]);
}

double Sensitivity::floorDb(int band, Resolution resolution)
{
    const double widthHz = bandEdgeHz(band + 1) - bandEdgeHz(band);
    // A band of few bins sees its noise swing more from one analysis to
    // the next: its floor stands further above the noise.
    const double bins = widthHz * kFftLength / kSampleRate;
    const double margin = kFloorMarginDb + kFewBinsMarginDb * std::sqrt(4.0 / bins);
    return kDitherDb + (resolution == Resolution::Finer ? kFinerDb : 0.0) +
           10.0 * std::log10(widthHz / (kSampleRate / 2.0)) + margin;
}

void Sensitivity::observe(const BandPowers& left, const BandPowers& right, double seconds)
{
    if (m_mode == SensitivityMode::Fixed || seconds <= 0.0)
        return;
    const double now = std::max(loudness(left), loudness(right));
    if (now < kGateDb) {
        // A pause, or dither: nothing to follow. A gap between beats still
        // counts for the balance, as the band's floor.
        m_quietSeconds += seconds;
        if (m_quietSeconds <= kGapSeconds)
            balance(left, right, seconds);
        return;
    }
    m_quietSeconds = 0.0;
    m_average += (now - m_average) * fraction(seconds, kAverageSeconds);
    if (now > m_reference) {
        m_reference += (now - m_reference) * fraction(seconds, kAttackSeconds);
    } else {
        const double below = std::max(0.0, m_reference - m_average);
        const double rate = std::min(
            kFastestDbPerSecond, kBreathingDbPerSecond + kFollowDbPerSecondPerDb * std::max(0.0, below - kBreathingDb));
        m_reference = std::max({m_reference - rate * seconds, now, kLowestReferenceDb});
    }
    // While the reference is still on its way to a new volume, the bands
    // say nothing about their balance.
    if (m_reference - m_average <= kBreathingDb)
        balance(left, right, seconds);
}

void Sensitivity::balance(const BandPowers& left, const BandPowers& right, double seconds)
{
    for (int b = 0; b < kBands; ++b) {
        const auto i = static_cast<std::size_t>(b);
        const double power = std::max({left[i], right[i], floorDb(b, m_resolution)});
        m_bandMean[i] += (power - m_reference - m_bandMean[i]) * fraction(seconds, kBalanceSeconds);
        const double wanted = meanFor(0.0) - m_bandMean[i];
        m_balance[i] = std::clamp(wanted, kTypicalBalanceDb[i] - kBalanceCutDb, kTypicalBalanceDb[i] + kBalanceLiftDb);
    }
}

double Sensitivity::level(int band, double powerDb) const
{
    if (m_mode == SensitivityMode::Automatic && powerDb <= floorDb(band, m_resolution))
        return 0.0;
    const double balance = m_balance[static_cast<std::size_t>(band)];
    return std::clamp(8.0 + (powerDb + balance - m_reference - kTopDb) / kDbPerLevel, 0.0, 8.5);
}

int16_t Sensitivity::vu(int16_t rms) const
{
    if (m_mode == SensitivityMode::Fixed)
        return rms;
    const double scaled = rms * std::pow(10.0, (kVuReferenceDb - m_reference) / 20.0);
    return static_cast<int16_t>(std::min(32767.0, std::round(scaled)));
}

}  // namespace lumora::vbvis
