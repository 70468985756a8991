// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis.h"
#include "demosignal.h"
#include "musiclikesignal.h"
#include "samplering.h"
#include "spectrumvalues.h"
#include "testsignals.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace lumora::vbvis {
namespace {

using Levels = std::array<int, kBands>;

// The library and the program in the sound's own time: the newest samples
// of interleaved float frames, every `hop` frames (the line's cycle, 643
// frames), through the library's values into the program's lamp levels of
// the left channel.
std::vector<Levels> lampLevels(SpectrumValues& spectrum, const std::vector<float>& frames, std::size_t hop = 643)
{
    std::vector<Levels> out;
    std::array<std::array<float, kFftLength>, 2> windows{};
    for (std::size_t end = hop; end <= frames.size() / 2; end += hop) {
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < kFftLength; ++i)
                windows[c][i] = end + i >= kFftLength ? frames[2 * (end + i - kFftLength) + c] : 0.0f;
        spectrum.update(windows[0], windows[1], static_cast<double>(hop) / kSampleRate);
        out.push_back(testing::bandLevels(spectrum.values(0)));
    }
    return out;
}

std::vector<float> sine(double hz, double amplitude, std::size_t frames)
{
    std::vector<float> out(2 * frames);
    for (std::size_t i = 0; i < frames; ++i)
        out[2 * i] = out[2 * i + 1] = static_cast<float>(
            std::round(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kSampleRate)));
    return out;
}

std::vector<float> music(lumora::testing::MusicLikeSignal::Colour colour, double seconds, double gainDb = 0.0)
{
    lumora::testing::MusicLikeSignal signal(colour);
    std::vector<int16_t> samples(2 * static_cast<std::size_t>(seconds * kSampleRate));
    signal.render(samples);
    const double gain = std::pow(10.0, gainDb / 20.0);
    std::vector<float> out(samples.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(samples[i] * gain);
    return out;
}

// The cycle that ends `seconds` into the sound.
std::size_t cycleAt(double seconds)
{
    return static_cast<std::size_t>(seconds * kSampleRate / 643) - 1;
}

double meanLevel(const std::vector<Levels>& levels, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        for (int level : levels[i])
            sum += level;
    return sum / static_cast<double>((to - from) * kBands);
}

// With the fixed sensitivity a tone lights its own band, at 8 for full
// scale and one lamp less for every 4.5 dB less; what its window spreads
// into the other bands stays at least 5 lamps lower. A tone above 16 kHz
// lights nothing.
TEST(SpectrumValues, TonesLightTheirBandOnTheFixedScale)
{
    struct Case {
        double hz;
        double db;  // relative to full scale
        int band;   // -1: none
        int level;
    };
    const std::array<Case, 12> cases{{
        {70.0, 0.0, 0, 8},  // the middle of each band, full scale
        {177.0, 0.0, 1, 8},
        {354.0, 0.0, 2, 8},
        {707.0, 0.0, 3, 8},
        {1414.0, 0.0, 4, 8},
        {2828.0, 0.0, 5, 8},
        {5657.0, 0.0, 6, 8},
        {11314.0, 0.0, 7, 8},
        {1414.0, -21.0, 4, 4},   // 8 - 18 / 4.5
        {11314.0, -34.5, 7, 1},  // the first lamp
        {11314.0, -39.0, 7, 0},
        {19000.0, 0.0, -1, 0},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hz) + " Hz at " + std::to_string(c.db) + " dB");
        SpectrumValues spectrum(SensitivityMode::Fixed);
        const Levels levels =
            lampLevels(spectrum, sine(c.hz, 32767.0 * std::pow(10.0, c.db / 20.0), kFftLength), kFftLength).back();
        for (int b = 0; b < kBands; ++b)
            if (b == c.band)
                EXPECT_EQ(levels[static_cast<std::size_t>(b)], c.level);
            else
                EXPECT_LE(levels[static_cast<std::size_t>(b)], std::max(0, c.level - 5)) << "band " << b;
    }
}

TEST(SpectrumValues, EachChannelShowsOnlyItsOwnSound)
{
    SpectrumValues spectrum(SensitivityMode::Fixed);
    std::vector<float> leftOnly = sine(1414.0, 32767.0, kFftLength);
    for (std::size_t i = 1; i < leftOnly.size(); i += 2)
        leftOnly[i] = 0.0f;
    lampLevels(spectrum, leftOnly, kFftLength);
    EXPECT_EQ(testing::bandLevels(spectrum.values(0)), (Levels{0, 0, 0, 0, 8, 0, 0, 0}));
    EXPECT_EQ(testing::bandLevels(spectrum.values(1)), Levels{});
}

// The automatic sensitivity, on music-like noise in the sound's own time:
// a step down of 20 dB dims the lamps at once and is followed within 5 s.
TEST(SpectrumValues, AStepDownIsFollowedWithinFiveSeconds)
{
    using lumora::testing::MusicLikeSignal;
    for (const auto colour : {MusicLikeSignal::Colour::Pink, MusicLikeSignal::Colour::Bright}) {
        SCOPED_TRACE(std::string(MusicLikeSignal::name(colour)));
        std::vector<float> frames = music(colour, 40.0);
        // Twenty seconds as they are, then 20 dB quieter: the same noise
        // and swell, one 8-second swell period apart.
        for (std::size_t i = 2 * 20 * kSampleRate; i < frames.size(); ++i)
            frames[i] *= 0.1f;
        SpectrumValues spectrum;
        const auto levels = lampLevels(spectrum, frames);
        const double before = meanLevel(levels, cycleAt(12), cycleAt(20));
        const double justAfter = meanLevel(levels, cycleAt(20.1), cycleAt(20.6));
        const double after = meanLevel(levels, cycleAt(25), cycleAt(33));
        EXPECT_GT(before, 2.5);
        EXPECT_LT(justAfter, before - 2.0) << "the step never reached the lamps";
        EXPECT_NEAR(after, before, 0.2 * before);
    }
}

// Silence and a sound server's dither after music darken every lamp within
// 0.5 s and keep them dark, however long they last; music afterwards lights
// them in the next cycle.
TEST(SpectrumValues, SilenceAndDitherStayDark)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    for (const bool dither : {false, true}) {
        SCOPED_TRACE(dither ? "dither" : "silence");
        std::vector<float> frames = music(lumora::testing::MusicLikeSignal::Colour::Pink, 10.0, -55.0);
        for (float& sample : frames)
            sample = std::round(sample);
        const std::size_t musicEnd = frames.size();
        frames.resize(frames.size() + 2 * 60 * kSampleRate, 0.0f);
        for (std::size_t i = musicEnd; dither && i < frames.size(); ++i)
            frames[i] = std::round(uniform(random) + uniform(random));
        const std::vector<float> again = music(lumora::testing::MusicLikeSignal::Colour::Pink, 1.0, -55.0);
        frames.insert(frames.end(), again.begin(), again.end());

        SpectrumValues spectrum;
        const auto levels = lampLevels(spectrum, frames);
        for (std::size_t i = cycleAt(10.5); i < cycleAt(70); ++i)
            ASSERT_EQ(levels[i], Levels{}) << "cycle " << i - cycleAt(10) << " of the silence";
        EXPECT_GT(meanLevel(levels, cycleAt(70) + 2, cycleAt(70) + 3), 1.0) << "the music came back dark";
    }
}

// A kick drum falling from 150 to 50 Hz, at 120 bpm under a steady chord:
// band 0 rises by at least 4 in the first cycle after each kick's first 5 ms
// and falls back by 4 before the next.
TEST(SpectrumValues, KicksRaiseBandZeroAtOnce)
{
    constexpr double kBeat = 0.5;
    const std::size_t frameCount = 12 * kSampleRate;
    std::vector<float> frames(2 * frameCount);
    for (std::size_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double k = std::fmod(t, kBeat);
        double s = k < 0.3
                       ? std::sin(2 * std::numbers::pi * (50 * k + 4 * (1 - std::exp(-k / 0.04)))) * std::exp(-k / 0.12)
                       : 0.0;
        s *= 0.6;
        for (double hz : {261.6, 329.6, 392.0})
            s += 0.08 * std::sin(2 * std::numbers::pi * hz * t);
        frames[2 * i] = frames[2 * i + 1] = static_cast<float>(std::round(32767 * s));
    }
    // Cycles every 643 frames; kicks fall 22050 frames apart, so each lands
    // at a different place within a cycle.
    SpectrumValues spectrum;
    const auto levels = lampLevels(spectrum, frames);
    int kicks = 0;
    for (std::size_t kick = 4 * kSampleRate; kick + kSampleRate / 2 < frameCount; kick += kSampleRate / 2, ++kicks) {
        SCOPED_TRACE("kick at frame " + std::to_string(kick));
        const std::size_t before = kick / 643 - 1;     // the last cycle before the kick
        const std::size_t first = (kick + 220) / 643;  // the first with 5 ms of it
        const std::size_t next = (kick + kSampleRate / 2) / 643 - 1;
        EXPECT_GE(levels[first][0] - levels[before][0], 4);
        int lowest = 8;
        for (std::size_t i = first; i <= next; ++i)
            lowest = std::min(lowest, levels[i][0]);
        EXPECT_GE(levels[first][0] - lowest, 4);
    }
    EXPECT_EQ(kicks, 15);
}

// The demo tune and music-like noise of every colour keep every band moving
// through its levels, neither dark nor full most of the time.
TEST(SpectrumValues, MusicMovesEveryBand)
{
    using lumora::testing::MusicLikeSignal;
    std::vector<std::pair<std::string, std::vector<float>>> pieces;
    DemoSignal demo;
    std::vector<int16_t> demoSamples(2 * 30 * kSampleRate);
    demo.render(demoSamples);
    pieces.emplace_back("demo", std::vector<float>(demoSamples.begin(), demoSamples.end()));
    for (const auto colour :
         {MusicLikeSignal::Colour::Pink, MusicLikeSignal::Colour::Dark, MusicLikeSignal::Colour::Bright})
        pieces.emplace_back(MusicLikeSignal::name(colour), music(colour, 30.0));
    for (const auto& [name, frames] : pieces) {
        SpectrumValues spectrum;
        const auto levels = lampLevels(spectrum, frames);
        for (int b = 0; b < kBands; ++b) {
            SCOPED_TRACE(name + ", band " + std::to_string(b));
            std::array<int, 9> counts{};
            const std::size_t from = levels.size() / 6;  // after the first 5 s
            for (std::size_t i = from; i < levels.size(); ++i)
                ++counts[static_cast<std::size_t>(levels[i][static_cast<std::size_t>(b)])];
            const double cycles = static_cast<double>(levels.size() - from);
            EXPECT_LT(counts[0] / cycles, 0.30) << "dark";
            EXPECT_LT(counts[8] / cycles, 0.15) << "full";
            EXPECT_GE(std::count_if(counts.begin(), counts.end(), [&](int n) { return n / cycles >= 0.02; }), 3)
                << "levels visited";
        }
    }
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
        const auto frames = sine(1000.0, c.amplitude, kVuLength);
        std::vector<float> left(kVuLength);
        for (std::size_t i = 0; i < kVuLength; ++i)
            left[i] = frames[2 * i];
        EXPECT_NEAR(vuFromSamples(left), c.expected, c.tolerance) << "amplitude " << c.amplitude;
    }
    const std::vector<float> square(kVuLength, -32768.0f);
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
    using Four = std::array<float, 4>;
    Four out{};
    EXPECT_FALSE(ring.readNewest(0, out)) << "empty ring";
    EXPECT_EQ(out, (Four{0, 0, 0, 0}));

    const std::vector<int16_t> first{1, -1, 2, -2, 3, -3};
    ring.write(first);
    ASSERT_TRUE(ring.readNewest(0, out));
    EXPECT_EQ(out, (Four{0, 1, 2, 3})) << "unfilled frames read as 0, oldest first";
    ring.readNewest(1, out);
    EXPECT_EQ(out, (Four{0, -1, -2, -3}));

    const std::vector<float> wrap{0.125f, -0.125f, 0.25f, -0.25f, 0.375f, -0.375f};
    ring.write(wrap, 32.0f);
    ring.readNewest(0, out);
    EXPECT_EQ(out, (Four{3, 4, 8, 12})) << "across the wrap, floats scaled to 16-bit units";
    std::array<float, 2> two{};
    ring.readNewest(7, two);
    EXPECT_EQ(two, (std::array<float, 2>{-8, -12})) << "any non-zero channel is the right one";

    const std::vector<int16_t> tooLong{7, 0, 8, 0, 9, 0, 10, 0, 11, 0, 12, 0};
    ring.write(tooLong);
    ring.readNewest(0, out);
    EXPECT_EQ(out, (Four{9, 10, 11, 12})) << "a write longer than the ring keeps its newest";
    EXPECT_EQ(ring.framesWritten(), 12u) << "all frames count as sound that passed";

    ring.clear();
    EXPECT_FALSE(ring.readNewest(0, out));
    EXPECT_EQ(out, (Four{0, 0, 0, 0}));
}

TEST(SampleRing, StaleFramesReadAsSilence)
{
    // Long enough that the read right after the write is fresh on a loaded
    // machine too.
    SampleRing ring(16, std::chrono::milliseconds(500));
    const std::vector<int16_t> frames{100, 100, 200, 200};
    ring.write(frames);
    std::array<float, 2> out{};
    ASSERT_TRUE(ring.readNewest(0, out));
    EXPECT_EQ(out, (std::array<float, 2>{100, 200}));
    EXPECT_TRUE(testing::waitUntil([&] { return !ring.readNewest(0, out); }));
    EXPECT_EQ(out, (std::array<float, 2>{0, 0}));
}

}  // namespace
}  // namespace lumora::vbvis
