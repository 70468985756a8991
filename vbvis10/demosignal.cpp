// SPDX-License-Identifier: GPL-3.0-or-later
#include "demosignal.h"

#include "analysis.h"

#include <array>
#include <cmath>
#include <numbers>

namespace lumora::vbvis {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kBeat = 0.5;          // seconds: 120 beats per minute
constexpr double kEighth = kBeat / 2;  // hi-hats and bass notes
constexpr double kSixteenth = kBeat / 4;
constexpr double kBar = 4 * kBeat;

struct Chord {
    double bass;                 // Hz, one octave below the chord's root or lower
    std::array<double, 3> notes; // Hz
};

// A minor, F major, C major, G major: one bar each.
constexpr std::array<Chord, 4> kProgression{{
    {55.00, {220.00, 261.63, 329.63}},
    {43.65, {174.61, 220.00, 261.63}},
    {65.41, {261.63, 329.63, 392.00}},
    {49.00, {196.00, 246.94, 293.66}},
}};

// Sum of the first `harmonics` partials of f, partial k weighted by 1/k^tilt.
double partials(double f, double t, int harmonics, double tilt)
{
    double sum = 0.0;
    for (int k = 1; k <= harmonics && k * f < 20000.0; ++k)
        sum += std::sin(kTwoPi * k * f * t) / std::pow(k, tilt);
    return sum;
}

} // namespace

double DemoSignal::noise()
{
    // xorshift32: cheap, deterministic, flat enough for drums.
    m_noiseState ^= m_noiseState << 13;
    m_noiseState ^= m_noiseState >> 17;
    m_noiseState ^= m_noiseState << 5;
    return static_cast<double>(m_noiseState) / 2147483648.0 - 1.0;
}

double DemoSignal::sampleAt(double t, double &right)
{
    const double inBeat = std::fmod(t, kBeat);
    const double inEighth = std::fmod(t, kEighth);
    const int beat = static_cast<int>(t / kBeat) % 4;
    const int eighth = static_cast<int>(t / kEighth) % 8;
    const int sixteenth = static_cast<int>(t / kSixteenth) % 16;
    const Chord &chord = kProgression[static_cast<std::size_t>(t / kBar) % kProgression.size()];

    // Kick: a sine falling from 120 to 45 Hz within a few tens of ms.
    const double kickPhase = kTwoPi * (45.0 * inBeat + 75.0 * 0.03 * (1.0 - std::exp(-inBeat / 0.03)));
    const double kick = 0.7 * std::exp(-inBeat / 0.15) * std::sin(kickPhase);

    // Snare on beats 2 and 4: a noise burst over a short 185 Hz body.
    const double white = noise();
    double snare = 0.0;
    if (beat == 1 || beat == 3)
        snare = 0.30 * std::exp(-inBeat / 0.08) * white +
                0.20 * std::exp(-inBeat / 0.05) * std::sin(kTwoPi * 185.0 * inBeat);

    // Hi-hats: differenced noise (rising with frequency), off-beats louder,
    // the last eighth of each bar an open hat.
    m_hatTone = 0.55 * m_hatTone + 0.45 * (white - m_hatHistory);
    m_hatHistory = white;
    const double bright = m_hatTone;
    const double hatDecay = eighth == 7 ? 0.15 : 0.035;
    const double hat = (eighth % 2 ? 0.08 : 0.05) * std::exp(-inEighth / hatDecay) * bright +
                       0.006 * (1.0 + std::exp(-std::fmod(t, kSixteenth) / 0.03)) * bright;

    // Bass: a saw-like tone on eighth notes, every third one an octave up.
    const double bassFreq = eighth % 3 == 2 ? 2 * chord.bass : chord.bass;
    const double bass = 0.35 * std::exp(-inEighth / 0.2) * partials(bassFreq, t, 10, 1.0);

    // Chords: a pad that swells over each bar.
    const double inBar = std::fmod(t, kBar);
    const double swell = 0.5 + 0.5 * std::sin(std::numbers::pi * inBar / kBar);
    double pad = 0.0;
    for (double f : chord.notes)
        pad += partials(f, t, 6, 1.3);
    pad *= 0.1 * swell;

    // Arpeggio two octaves up in sixteenths: the upper mids and some air.
    const double arpFreq = 4.0 * chord.notes[static_cast<std::size_t>(sixteenth) % 3];
    const double arp = 0.08 * std::exp(-std::fmod(t, kSixteenth) / 0.06) * partials(arpFreq, t, 8, 1.0);

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
        const double left = sampleAt(static_cast<double>(m_frame) / kSampleRate, right);
        interleaved[i] = toSample(left);
        interleaved[i + 1] = toSample(right);
        ++m_frame;
    }
}

} // namespace lumora::vbvis
