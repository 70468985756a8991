// SPDX-License-Identifier: GPL-3.0-or-later
#include "demosignal.h"

#include "analysis.h"

#include <array>
#include <cmath>
#include <numbers>

namespace lumora::vbvis {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Durations in frames at 44100 Hz: 120 beats per minute.
constexpr std::int64_t kBeatFrames = kSampleRate / 2;
constexpr std::int64_t kEighthFrames = kBeatFrames / 2;  // hi-hats and bass notes
constexpr std::int64_t kBarFrames = 4 * kBeatFrames;
constexpr double kSixteenthFrames = kEighthFrames / 2.0;  // 5512.5: not a whole frame
constexpr double kBar = 2.0;                              // seconds

// Points per period of a tone colour; linear interpolation between them
// stays within 0.1 of a 16-bit step of the exact sum of sines.
constexpr std::size_t kWavePoints = 8192;

struct Chord {
    double bass;                  // Hz, one octave below the chord's root or lower
    std::array<double, 3> notes;  // Hz
};

// A minor, F major, C major, G major: one bar each.
constexpr std::array<Chord, 4> kProgression{{
    {55.00, {220.00, 261.63, 329.63}},
    {43.65, {174.61, 220.00, 261.63}},
    {65.41, {261.63, 329.63, 392.00}},
    {49.00, {196.00, 246.94, 293.66}},
}};

// One period of the first `harmonics` partials, partial k weighted by
// 1/k^tilt, with the first point repeated at the end for the interpolation.
// Every note of the piece stays below 20 kHz with all its partials.
std::vector<double> wave(int harmonics, double tilt)
{
    std::vector<double> points(kWavePoints + 1);
    for (std::size_t n = 0; n <= kWavePoints; ++n) {
        const double phase = static_cast<double>(n % kWavePoints) / kWavePoints;
        for (int k = 1; k <= harmonics; ++k)
            points[n] += std::sin(kTwoPi * k * phase) / std::pow(k, tilt);
    }
    return points;
}

// The tone colour at frequency f, time t (seconds).
double tone(const std::vector<double>& period, double f, double t)
{
    const double cycles = f * t;
    const double position = (cycles - std::floor(cycles)) * kWavePoints;
    const auto index = static_cast<std::size_t>(position);
    const double fraction = position - static_cast<double>(index);
    return period[index] + (period[index + 1] - period[index]) * fraction;
}

template <typename Shape> std::vector<double> overFrames(std::int64_t frames, Shape shape)
{
    std::vector<double> table(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = shape(static_cast<double>(i) / kSampleRate, static_cast<double>(i));
    return table;
}

}  // namespace

DemoSignal::DemoSignal()
    : m_bassWave(wave(10, 1.0)), m_padWave(wave(6, 1.3)), m_arpWave(wave(8, 1.0)),
      // Kick: a sine falling from 120 to 45 Hz within a few tens of ms.
      m_kick(overFrames(kBeatFrames,
                        [](double t, double) {
                            const double phase = kTwoPi * (45.0 * t + 75.0 * 0.03 * (1.0 - std::exp(-t / 0.03)));
                            return 0.7 * std::exp(-t / 0.15) * std::sin(phase);
                        })),
      // Snare: a noise burst over a short 185 Hz body.
      m_snareNoise(overFrames(kBeatFrames, [](double t, double) { return 0.30 * std::exp(-t / 0.08); })),
      m_snareBody(overFrames(
          kBeatFrames, [](double t, double) { return 0.20 * std::exp(-t / 0.05) * std::sin(kTwoPi * 185.0 * t); })),
      m_eighthFade(overFrames(kEighthFrames, [](double t, double) { return std::exp(-t / 0.035); })),
      m_openHatFade(overFrames(kEighthFrames, [](double t, double) { return std::exp(-t / 0.15); })),
      m_bassFade(overFrames(kEighthFrames, [](double t, double) { return 0.35 * std::exp(-t / 0.2); })),
      // Time since the last sixteenth note, within an eighth.
      m_tickFade(overFrames(kEighthFrames,
                            [](double t, double i) {
                                const double inSixteenth =
                                    i < kSixteenthFrames ? t : t - kSixteenthFrames / kSampleRate;
                                return 0.006 * (1.0 + std::exp(-inSixteenth / 0.03));
                            })),
      m_arpFade(overFrames(kEighthFrames, [](double t, double i) {
          const double inSixteenth = i < kSixteenthFrames ? t : t - kSixteenthFrames / kSampleRate;
          return 0.08 * std::exp(-inSixteenth / 0.06);
      }))
{
}

double DemoSignal::noise()
{
    // xorshift32: cheap, deterministic, flat enough for drums.
    m_noiseState ^= m_noiseState << 13;
    m_noiseState ^= m_noiseState >> 17;
    m_noiseState ^= m_noiseState << 5;
    return static_cast<double>(m_noiseState) / 2147483648.0 - 1.0;
}

double DemoSignal::sampleAt(std::int64_t frame, double& right)
{
    const double t = static_cast<double>(frame) / kSampleRate;
    const auto inBeat = static_cast<std::size_t>(frame % kBeatFrames);
    const auto inEighth = static_cast<std::size_t>(frame % kEighthFrames);
    const std::int64_t beat = frame / kBeatFrames % 4;
    const std::int64_t eighth = frame / kEighthFrames % 8;
    const auto sixteenth = static_cast<std::int64_t>(static_cast<double>(frame) / kSixteenthFrames) % 16;
    const Chord& chord = kProgression[static_cast<std::size_t>(frame / kBarFrames) % kProgression.size()];

    const double kick = m_kick[inBeat];

    // Snare on beats 2 and 4.
    const double white = noise();
    double snare = 0.0;
    if (beat == 1 || beat == 3)
        snare = m_snareNoise[inBeat] * white + m_snareBody[inBeat];

    // Hi-hats: differenced noise (rising with frequency), off-beats louder,
    // the last eighth of each bar an open hat.
    m_hatTone = 0.55 * m_hatTone + 0.45 * (white - m_hatHistory);
    m_hatHistory = white;
    const double bright = m_hatTone;
    const double hatFade = eighth == 7 ? m_openHatFade[inEighth] : m_eighthFade[inEighth];
    const double hat = (eighth % 2 ? 0.08 : 0.05) * hatFade * bright + m_tickFade[inEighth] * bright;

    // Bass: a saw-like tone on eighth notes, every third one an octave up.
    const double bassFreq = eighth % 3 == 2 ? 2 * chord.bass : chord.bass;
    const double bass = m_bassFade[inEighth] * tone(m_bassWave, bassFreq, t);

    // Chords: a pad that swells over each bar.
    const double inBar = static_cast<double>(frame % kBarFrames) / kSampleRate;
    const double swell = 0.5 + 0.5 * std::sin(std::numbers::pi * inBar / kBar);
    double pad = 0.0;
    for (double f : chord.notes)
        pad += tone(m_padWave, f, t);
    pad *= 0.1 * swell;

    // Arpeggio two octaves up in sixteenths: the upper mids and some air.
    const double arpFreq = 4.0 * chord.notes[static_cast<std::size_t>(sixteenth) % 3];
    const double arp = m_arpFade[inEighth] * tone(m_arpWave, arpFreq, t);

    // Stereo movement: hats and arpeggio drift one way, the pad the other.
    const double sway = std::sin(kTwoPi * 0.2 * t);
    const double hatPan = 0.5 + 0.4 * sway;
    const double padPan = 0.5 - 0.3 * sway;
    const double centre = kick + snare + bass;
    const double left = centre + (1.0 - hatPan) * (hat + arp) * 2.0 + (1.0 - padPan) * pad * 2.0;
    right = centre + hatPan * (hat + arp) * 2.0 + padPan * pad * 2.0;
    return left;
}

void DemoSignal::render(std::span<int16_t> interleaved)
{
    // Soft limit at 90 % of full scale keeps the peaks musical and in range.
    auto toSample = [](double x) { return static_cast<int16_t>(std::lround(29490.0 * std::tanh(0.9 * x))); };
    for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
        double right = 0.0;
        const double left = sampleAt(m_frame, right);
        interleaved[i] = toSample(left);
        interleaved[i + 1] = toSample(right);
        ++m_frame;
    }
}

}  // namespace lumora::vbvis
