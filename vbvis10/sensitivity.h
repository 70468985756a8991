// SPDX-License-Identifier: GPL-3.0-or-later
// How loud the lamps take the music to be: turns band powers into lamp
// levels, and scales the VU, so that the same music lights the lamps about
// the same whatever the volume it arrives at.
//
// Automatic (the default) has two parts.
//
// The reference follows the music's loudness (the power of the whole
// musical range, 40 Hz to 16 kHz): up within 50 ms when the music gets
// louder, down slowly while it only breathes (1 dB/s while its third of a
// second average stays within 9 dB below), and fast when it stays far
// quieter (3 dB/s more for every dB beyond those 9, up to 30 dB/s: a volume
// turned down by 60 dB is followed within about 3 s). Below kGateDb nothing
// moves it, so a pause or a sound server's dither never turns it up. It
// goes no lower than kLowestReferenceDb: at most 84 dB of gain.
//
// The balance lifts or lowers each band against the others, so that each
// band's lamps move about their middle levels: music carries more power
// low than high, and recordings differ in how much. It starts from what
// typical music needs (kTypicalBalanceDb), follows the band's mean over
// about 8 s while the music plays at a steady loudness (a quiet gap of up
// to 0.5 s, as between beats, counts as the band's floor), and stays from
// kBalanceCutDb below to kBalanceLiftDb above the typical value.
//
// Whatever the gain, a band whose power is at or below its floor is dark:
// the floor stands above what dither (TPDF, one least significant bit) puts
// into the band at the sound's resolution, by 2 dB for the widest band and
// up to 6 dB for band 0, whose few bins swing more. For 16-bit sound that is
// from -111 dB for band 0 to -95 dB for band 7; sound that carries finer
// detail (a sound server that mixes in floats) is taken as 24-bit, 48 dB
// lower, so that music played at a low volume keeps its treble.
//
// Fixed. The scale is absolute, for tests and measurements: a band at E dB
// relative to a full-scale sine shows level 8 + (E + 3) / 4.5, so a
// full-scale sine lights its band to 8 and every 4.5 dB less one lamp less,
// the first lamp at -37 dB. The VU is the plain RMS.
//
// Levels: 8 + (E + balance - reference - kTopDb) / kDbPerLevel, from 0 to
// 8.5 (balance and reference 0 when fixed). VU: the RMS times
// 10^((kVuReferenceDb - reference) / 20).
//
// Times are the sound's own: observe() is told how much sound has passed.
// Plain arithmetic; one thread at a time.
#pragma once

#include "analysis.h"
#include "sourcechoice.h"

#include <array>
#include <cstdint>

namespace lumora::vbvis {

enum class Resolution { SixteenBits, Finer };

class Sensitivity {
public:
    static constexpr double kTopDb = -3.0;
    static constexpr double kDbPerLevel = 4.5;
    static constexpr double kGateDb = -88.0;
    static constexpr double kLowestReferenceDb = -84.0;
    static constexpr double kVuReferenceDb = -5.0;
    static constexpr std::array<double, kBands> kTypicalBalanceDb = {-6.0, -6.0, -4.0, -3.0, -1.0, 2.0, 8.0, 14.0};
    static constexpr double kBalanceLiftDb = 12.0;
    static constexpr double kBalanceCutDb = 9.0;

    explicit Sensitivity(SensitivityMode mode = SensitivityMode::Automatic);

    SensitivityMode mode() const { return m_mode; }
    // The newest powers of both channels, after `seconds` of sound since the
    // last call.
    void observe(const BandPowers& left, const BandPowers& right, double seconds);
    double referenceDb() const { return m_reference; }
    double balanceDb(int band) const { return m_balance[static_cast<std::size_t>(band)]; }
    // The resolution of the newest sound.
    void setResolution(Resolution resolution) { m_resolution = resolution; }

    // A band's lamp level, 0..8.5.
    double level(int band, double powerDb) const;
    // The VU value of an RMS in 16-bit units, 0..32767.
    int16_t vu(int16_t rms) const;

    // The power at or below which the band is dark, in dB.
    static double floorDb(int band, Resolution resolution);

private:
    void balance(const BandPowers& left, const BandPowers& right, double seconds);

    SensitivityMode m_mode;
    Resolution m_resolution = Resolution::SixteenBits;
    double m_reference;
    double m_average;  // the loudness, smoothed over a third of a second
    std::array<double, kBands> m_balance{};
    std::array<double, kBands> m_bandMean{};  // each band against the reference, smoothed
    double m_quietSeconds = 0.0;              // since the sound fell below kGateDb
};

}  // namespace lumora::vbvis
