// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis.h"
#include "demosignal.h"
#include "musiclikesignal.h"
#include "samplering.h"
#include "testsignals.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

namespace lumora::vbvis {
namespace {

using testing::bandLevels;
using testing::bandOf;

std::array<uint8_t, kSpectrumValues> spectrumOfChannel(const std::vector<int16_t>& interleaved, int channel,
                                                       std::size_t startFrame = 0)
{
    static const SpectrumAnalyzer analyzer;
    std::array<int16_t, kFftLength> samples;
    for (std::size_t i = 0; i < kFftLength; ++i)
        samples[i] = interleaved[2 * (startFrame + i) + static_cast<std::size_t>(channel)];
    std::array<uint8_t, kSpectrumValues> values;
    analyzer.compute(samples, values);
    return values;
}

TEST(Analysis, SinesPeakInTheirBinAndBand)
{
    struct Case {
        double hz;
        double amplitude;
        std::size_t bin;
        int band;
        int minPeak;  // the peak value at least
        int maxPeak;  // and at most
    };
    const std::array<Case, 9> cases{{
        {1000.0, 32767, 26, 0, 255, 255},             // full scale between two bins
        {10000.0, 32767, 261, 4, 255, 255},           // full scale, band 4
        {38.28125 * 100, 32767, 100, 1, 255, 255},    // full scale centred on a bin
        {38.28125 * 100.5, 32767, 100, 1, 255, 255},  // worst case for the window: half-way
        {20000.0, 32767, 522, 7, 255, 255},           // the top band
        {1000.0, 327.67, 26, 0, 65, 95},              // -40 dB: a third of the way up
        {1000.0, 10.0, 26, 0, 2, 15},                 // -70 dB: just above the floor
        {1000.0, 1036.2, 26, 0, 90, 120},             // -30 dB
        {20000.0, 1036.2, 522, 7, 45, 80},            // -30 dB on the top octave's higher floor
    }};
    for (const Case& c : cases) {
        const auto values = spectrumOfChannel(testing::sineFrames(c.hz, c.amplitude, c.amplitude, kFftLength), 0);
        std::vector<int> asInts(values.begin(), values.end());
        const std::size_t peak = testing::peakBin(asInts);
        SCOPED_TRACE(std::to_string(c.hz) + " Hz at amplitude " + std::to_string(c.amplitude));
        EXPECT_EQ(peak, c.bin);
        EXPECT_EQ(bandOf(peak, kSpectrumValues), c.band);
        EXPECT_GE(values[peak], c.minPeak);
        EXPECT_LE(values[peak], c.maxPeak);
        // Far from the tone the spectrum falls to the floor.
        const std::size_t far = peak > 300 ? peak - 200 : peak + 200;
        EXPECT_EQ(values[far], 0);
    }
}

TEST(Analysis, QuietTrebleStaysBelowTheRisingFloor)
{
    // -70 dB shows at 1 kHz but not at 20 kHz, where the floor is higher.
    const auto low = spectrumOfChannel(testing::sineFrames(1000.0, 10.0, 10.0, kFftLength), 0);
    EXPECT_GT(low[26], 0);
    const auto high = spectrumOfChannel(testing::sineFrames(20000.0, 10.0, 10.0, kFftLength), 0);
    EXPECT_TRUE(std::all_of(high.begin(), high.end(), [](uint8_t v) { return v == 0; }));
}

TEST(Analysis, SilenceAndOtherChannelGiveZeros)
{
    const auto leftOnly = testing::sineFrames(1000.0, 30000, 0, kFftLength);
    const auto right = spectrumOfChannel(leftOnly, 1);
    EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](uint8_t v) { return v == 0; }));
    const std::vector<int16_t> silence(2 * kFftLength, 0);
    const auto quiet = spectrumOfChannel(silence, 0);
    EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](uint8_t v) { return v == 0; }));
}

TEST(Analysis, VuIsTheRmsInSixteenBitUnits)
{
    struct Case {
        double amplitude;
        int expected;
        int tolerance;
    };
    for (const Case& c : std::array<Case, 4>{{{32767, 23170, 60}, {16384, 11585, 40}, {1, 1, 1}, {0, 0, 0}}}) {
        // 1 kHz over 1024 samples is not a whole number of periods, hence the tolerance.
        const auto frames = testing::sineFrames(1000.0, c.amplitude, 0, kVuLength);
        std::vector<int16_t> left(kVuLength);
        for (std::size_t i = 0; i < kVuLength; ++i)
            left[i] = frames[2 * i];
        EXPECT_NEAR(vuFromSamples(left), c.expected, c.tolerance) << "amplitude " << c.amplitude;
    }
    const std::vector<int16_t> square(kVuLength, -32768);
    EXPECT_EQ(vuFromSamples(square), 32767) << "clamped to the 16-bit range";
}

TEST(Analysis, HexTextNeverGoesPastItsLength)
{
    const std::array<uint8_t, 3> values{0x00, 0xFF, 0x7F};
    struct Case {
        std::size_t length;
        std::string expected;  // what the buffer of 8 '#' holds afterwards
    };
    for (const Case& c :
         std::array<Case, 5>{{{0, "########"}, {1, "0#######"}, {3, "00F#####"}, {6, "00FF7F##"}, {8, "00FF7F##"}}}) {
        std::string buffer(8, '#');
        const std::size_t written = writeHex(values, {buffer.data(), c.length});
        EXPECT_EQ(buffer, c.expected) << "length " << c.length;
        EXPECT_EQ(written, std::min<std::size_t>(c.length, 6));
    }
}

TEST(SampleRing, ReadsTheNewestFramesOfOneChannel)
{
    SampleRing ring(4, std::chrono::hours(1));
    std::array<int16_t, 4> out{};
    EXPECT_FALSE(ring.readNewest(0, out)) << "empty ring";
    EXPECT_EQ(out, (std::array<int16_t, 4>{0, 0, 0, 0}));

    const std::vector<int16_t> first{1, -1, 2, -2, 3, -3};
    ring.write(first);
    ASSERT_TRUE(ring.readNewest(0, out));
    EXPECT_EQ(out, (std::array<int16_t, 4>{0, 1, 2, 3})) << "unfilled frames read as 0, oldest first";
    ring.readNewest(1, out);
    EXPECT_EQ(out, (std::array<int16_t, 4>{0, -1, -2, -3}));

    const std::vector<int16_t> wrap{4, -4, 5, -5, 6, -6};
    ring.write(wrap);
    ring.readNewest(0, out);
    EXPECT_EQ(out, (std::array<int16_t, 4>{3, 4, 5, 6})) << "across the wrap";
    std::array<int16_t, 2> two{};
    ring.readNewest(7, two);
    EXPECT_EQ(two, (std::array<int16_t, 2>{-5, -6})) << "any non-zero channel is the right one";

    const std::vector<int16_t> tooLong{7, 0, 8, 0, 9, 0, 10, 0, 11, 0, 12, 0};
    ring.write(tooLong);
    ring.readNewest(0, out);
    EXPECT_EQ(out, (std::array<int16_t, 4>{9, 10, 11, 12})) << "a write longer than the ring keeps its newest";

    ring.clear();
    EXPECT_FALSE(ring.readNewest(0, out));
    EXPECT_EQ(out, (std::array<int16_t, 4>{0, 0, 0, 0}));
}

TEST(SampleRing, StaleFramesReadAsSilence)
{
    // Long enough that the read right after the write is fresh on a loaded
    // machine too.
    SampleRing ring(16, std::chrono::milliseconds(500));
    const std::vector<int16_t> frames{100, 100, 200, 200};
    ring.write(frames);
    std::array<int16_t, 2> out{};
    ASSERT_TRUE(ring.readNewest(0, out));
    EXPECT_EQ(out, (std::array<int16_t, 2>{100, 200}));
    EXPECT_TRUE(testing::waitUntil([&] { return !ring.readNewest(0, out); }));
    EXPECT_EQ(out, (std::array<int16_t, 2>{0, 0}));
}

// Level shares in percent, [band][level], of the program's eight lamp
// levels over 30 s of a signal: 30 spectra a second, both channels.
using LevelShares = std::array<std::array<double, 9>, 8>;

LevelShares levelShares(const std::function<void(std::span<int16_t>)>& render)
{
    constexpr std::size_t kFrames = 44100 * 30;
    constexpr std::size_t kHop = 1470;
    std::vector<int16_t> audio(kFrames * 2);
    render(audio);
    LevelShares shares{};
    int spectra = 0;
    for (std::size_t start = 0; start + kFftLength <= kFrames; start += kHop)
        for (int channel = 0; channel < 2; ++channel, ++spectra) {
            const auto levels = bandLevels(spectrumOfChannel(audio, channel, start));
            for (std::size_t b = 0; b < 8; ++b)
                shares[b][static_cast<std::size_t>(levels[b])] += 1.0;
        }
    for (auto& band : shares)
        for (double& share : band)
            share *= 100.0 / spectra;
    return shares;
}

// Levels a band spends at least 2 % of the time on.
int visitedLevels(const std::array<double, 9>& band)
{
    return static_cast<int>(std::count_if(band.begin(), band.end(), [](double share) { return share >= 2.0; }));
}

// Mean level of the bands from..7.
double meanLevelFrom(const LevelShares& shares, std::size_t from)
{
    double sum = 0.0;
    for (std::size_t b = from; b < 8; ++b)
        for (std::size_t level = 0; level < 9; ++level)
            sum += shares[b][level] / 100.0 * static_cast<double>(level);
    return sum / static_cast<double>(8 - from);
}

// The spectrum scale against the program's band fold. On the demo and on
// pulsed pink noise (typical music) every band moves through its levels
// instead of sitting at 0 or 8; the top band, with the most bins and the
// highest gain, fills only on real treble. Darker music lights the upper
// bands less and brighter music more, and even the bright kind leaves the
// top band room. The run prints the level shares that vbvis10.h documents.
TEST(Analysis, MusicMovesTheBandsAcrossTheirLevels)
{
    using testing::MusicLikeSignal;
    DemoSignal demo;
    MusicLikeSignal pinkNoise(MusicLikeSignal::Colour::Pink);
    MusicLikeSignal darkNoise(MusicLikeSignal::Colour::Dark);
    MusicLikeSignal brightNoise(MusicLikeSignal::Colour::Bright);
    const LevelShares demoShares = levelShares([&](std::span<int16_t> s) { demo.render(s); });
    const LevelShares pink = levelShares([&](std::span<int16_t> s) { pinkNoise.render(s); });
    const LevelShares dark = levelShares([&](std::span<int16_t> s) { darkNoise.render(s); });
    const LevelShares bright = levelShares([&](std::span<int16_t> s) { brightNoise.render(s); });

    for (const auto& [name, shares] : {std::pair{"demo", &demoShares}, std::pair{"pink", &pink},
                                       std::pair{"dark", &dark}, std::pair{"bright", &bright}}) {
        std::cout << name << "    level: 0   1   2   3   4   5   6   7   8\n";
        for (std::size_t b = 0; b < 8; ++b) {
            std::cout << "  band " << b << "   ";
            for (double share : (*shares)[b])
                std::cout << std::setw(4) << std::lround(share);
            std::cout << '\n';
        }
    }

    for (const auto& [name, shares] : {std::pair{"demo", &demoShares}, std::pair{"pink", &pink}}) {
        for (std::size_t b = 0; b < 8; ++b) {
            SCOPED_TRACE(std::string(name) + ", band " + std::to_string(b));
            const auto& band = (*shares)[b];
            EXPECT_LT(band[0], 35.0) << "share of time at level 0";
            EXPECT_LT(band[8], 35.0) << "share of time at level 8";
            // The demo's lowest band holds its steady bass and chords on
            // levels 3 to 5; every other band spreads wider.
            EXPECT_GE(visitedLevels(band), b == 0 ? 3 : 5);
        }
    }
    EXPECT_LT(demoShares[7][8], 25.0) << "demo: top band full";
    EXPECT_LT(pink[7][8], 30.0) << "pink: top band full";

    EXPECT_LT(meanLevelFrom(dark, 4), meanLevelFrom(pink, 4) - 1.0);
    EXPECT_LT(meanLevelFrom(pink, 4), meanLevelFrom(bright, 4) - 1.0);
    EXPECT_LT(dark[7][8] + dark[7][7] + dark[7][6], 2.0) << "dark: top band near full";
    EXPECT_LT(bright[7][8], 70.0) << "bright: top band full";
    EXPECT_GE(visitedLevels(bright[7]), 6) << "bright: top band levels";
}

}  // namespace
}  // namespace lumora::vbvis
