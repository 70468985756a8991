// SPDX-License-Identifier: GPL-3.0-or-later
// The lamps that music lights, in the sound's own time and without a sound
// server: libVbVis10's analysis, sensitivity and values, then Lumora's own
// band folding and frame, at the line's 68.6 cycles a second. For each track
// (raw signed 16-bit stereo at 44100 Hz, as sox writes it) it prints:
//   - at full volume: each band's mean level and how often it is dark or at
//     level 8;
//   - after the volume drops to 50, 30 and 10 % (as a sound server's cubic
//     volume makes it, 16-bit samples after it): the mean level 5 s after
//     the drop against the same stretch at full volume;
// and once:
//   - a kick drum at 120 bpm, alone and under a steady chord: band 0 before
//     each kick, at its peak within a cycle of it, and its lowest before the
//     next;
//   - silence after music: when every lamp of the frame is dark, and
//     whether one lights in 60 s of silence;
//   - the demo tune: each band's mean level and share of cycles dark.
//
//   music_lamps [--fixed] TRACK.raw[=LABEL] ...
//   music_lamps --write-kicks alone|chord SECONDS > kicks.raw
#include "demosignal.h"
#include "framematrix.h"
#include "meters.h"
#include "spectrumvalues.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace lumora;
using namespace lumora::vbvis;

constexpr double kCyclesPerSecond = 5760.0 / 84.0;
constexpr double kSecondsPerCycle = 1.0 / kCyclesPerSecond;
constexpr std::int32_t kSpectrumMaxWidth = 795;

using Levels = std::array<int, kBands>;  // one channel's lamp levels

// What Lumora shows of the library's values for one channel.
Levels lampLevels(const SpectrumValues::Values& values)
{
    const auto widths =
        meters::spectrumWidths(std::vector<std::uint8_t>(values.begin(), values.end()), kSpectrumMaxWidth);
    Levels out{};
    for (int b = 0; b < kBands; ++b)
        out[static_cast<std::size_t>(b)] = levelFromWidth(static_cast<float>(widths[static_cast<std::size_t>(b)]));
    return out;
}

// The library and the program, cycle by cycle over interleaved frames.
class Pipeline {
public:
    explicit Pipeline(SensitivityMode mode) : m_values(mode) { }

    // The lamp levels of both channels for the cycle whose newest frame is
    // `end` (exclusive).
    std::array<Levels, 2> cycle(const std::vector<float>& frames, std::size_t end)
    {
        std::array<std::array<float, kFftLength>, 2> windows{};
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < kFftLength; ++i) {
                const std::size_t frame = end >= kFftLength - i ? end - kFftLength + i : SIZE_MAX;
                windows[c][i] = frame < frames.size() / 2 ? frames[2 * frame + c] : 0.0f;
            }
        m_values.update(windows[0], windows[1], static_cast<double>(end - m_lastEnd) / kSampleRate);
        m_lastEnd = end;
        return {lampLevels(m_values.values(0)), lampLevels(m_values.values(1))};
    }

private:
    SpectrumValues m_values;
    std::size_t m_lastEnd = 0;
};

std::vector<float> readRaw(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> frames(bytes.size() / 4 * 2);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                              static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    return frames;
}

// A sound server's software volume: the cube of the slider, applied to
// 16-bit samples (PulseAudio's usual output) or to floats (PipeWire's).
std::vector<float> atVolume(const std::vector<float>& frames, double slider, std::size_t fromFrame, bool sixteenBits)
{
    const double gain = slider * slider * slider;
    std::vector<float> out(frames);
    for (std::size_t i = 2 * fromFrame; i < out.size(); ++i)
        out[i] = static_cast<float>(sixteenBits ? std::round(frames[i] * gain) : frames[i] * gain);
    return out;
}

struct BandStats {
    std::array<double, kBands> sum{};
    std::array<long, kBands> dark{};
    std::array<long, kBands> full{};
    long count = 0;

    void add(const Levels& levels)
    {
        for (int b = 0; b < kBands; ++b) {
            const auto i = static_cast<std::size_t>(b);
            sum[i] += levels[i];
            dark[i] += levels[i] == 0;
            full[i] += levels[i] == 8;
        }
        ++count;
    }
    double mean(int b) const { return count ? sum[static_cast<std::size_t>(b)] / count : 0; }
    double meanAll() const
    {
        double s = 0;
        for (int b = 0; b < kBands; ++b)
            s += mean(b);
        return s / kBands;
    }
    double darkShare(int b) const { return count ? 100.0 * dark[static_cast<std::size_t>(b)] / count : 0; }
    double fullShare(int b) const { return count ? 100.0 * full[static_cast<std::size_t>(b)] / count : 0; }
};

// Lamp statistics over [fromSeconds, toSeconds) of a run over all of `frames`.
BandStats run(const std::vector<float>& frames, SensitivityMode mode, double fromSeconds, double toSeconds)
{
    Pipeline pipeline(mode);
    BandStats stats;
    const double total = static_cast<double>(frames.size() / 2) / kSampleRate;
    for (double t = kSecondsPerCycle; t < std::min(total, toSeconds); t += kSecondsPerCycle) {
        const auto levels = pipeline.cycle(frames, static_cast<std::size_t>(t * kSampleRate));
        if (t >= fromSeconds) {
            stats.add(levels[0]);
            stats.add(levels[1]);
        }
    }
    return stats;
}

void printBands(const char* what, const BandStats& s)
{
    std::printf("  %-10s mean %4.2f | level", what, s.meanAll());
    for (int b = 0; b < kBands; ++b)
        std::printf(" %3.1f", s.mean(b));
    std::printf(" | dark %%");
    for (int b = 0; b < kBands; ++b)
        std::printf(" %3.0f", s.darkShare(b));
    std::printf(" | at 8 %%");
    for (int b = 0; b < kBands; ++b)
        std::printf(" %3.0f", s.fullShare(b));
    std::printf("\n");
}

void track(const std::string& path, const std::string& label, SensitivityMode mode)
{
    auto frames = readRaw(path);
    constexpr double kSeconds = 40.0;
    frames.resize(std::min(frames.size(), static_cast<std::size_t>(2 * kSeconds * kSampleRate)));
    std::printf("%s\n", label.c_str());
    const BandStats full = run(frames, mode, 5.0, kSeconds);
    printBands("100 %", full);
    // The volume drops at 20 s; the 5 s from 5 s after it are compared with
    // the same 5 s at full volume.
    constexpr double kDrop = 20.0;
    const BandStats before = run(frames, mode, kDrop + 5.0, kDrop + 10.0);
    for (double slider : {0.5, 0.3, 0.1})
        for (const bool sixteenBits : {true, false}) {
            const auto dropped = atVolume(frames, slider, static_cast<std::size_t>(kDrop * kSampleRate), sixteenBits);
            const BandStats after = run(dropped, mode, kDrop + 5.0, kDrop + 10.0);
            char what[32];
            std::snprintf(what, sizeof what, "%2.0f %% %s", slider * 100, sixteenBits ? "s16" : "float");
            std::printf("  %-10s mean %4.2f against %4.2f at 100 %%: %+5.1f %% |", what, after.meanAll(),
                        before.meanAll(),
                        100.0 * (after.meanAll() - before.meanAll()) / std::max(before.meanAll(), 0.01));
            for (int b = 0; b < kBands; ++b)
                std::printf(" %+4.1f", after.mean(b) - before.mean(b));
            std::printf("\n");
        }
}

// A kick drum: a falling sine from 150 to 50 Hz over 120 ms, full at once.
double kick(double t)
{
    if (t < 0 || t > 0.3)
        return 0;
    const double phase = 2 * std::numbers::pi * (50 * t + 100 * 0.04 * (1 - std::exp(-t / 0.04)));
    return std::sin(phase) * std::exp(-t / 0.12);
}

constexpr double kBeat = 0.5;  // 120 bpm

// Kicks at 120 bpm from the first frame, alone or under a steady C major
// chord, 16-bit steps.
std::vector<float> kicks(double seconds, bool chord)
{
    std::vector<float> frames(static_cast<std::size_t>(2 * seconds * kSampleRate));
    for (std::size_t i = 0; i < frames.size() / 2; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        double s = 0.7 * kick(std::fmod(t, kBeat));
        if (chord)
            for (double hz : {261.6, 329.6, 392.0})
                s += 0.1 * std::sin(2 * std::numbers::pi * hz * t);
        frames[2 * i] = frames[2 * i + 1] = static_cast<float>(std::round(32767 * s * 0.8));
    }
    return frames;
}

void beat(SensitivityMode mode)
{
    constexpr double kSeconds = 20.0;
    for (const bool chord : {false, true}) {
        const std::vector<float> frames = kicks(kSeconds, chord);
        Pipeline pipeline(mode);
        std::vector<int> band0;
        for (double t = kSecondsPerCycle; t < kSeconds; t += kSecondsPerCycle)
            band0.push_back(pipeline.cycle(frames, static_cast<std::size_t>(t * kSampleRate))[0][0]);
        // Each kick after the first 4 s: the level in the last cycle that
        // ends before it against the first cycle that holds 5 ms of it, and
        // the lowest before the next kick.
        int kicks = 0, risen = 0, fallen = 0, minRise = 99, minFall = 99;
        for (double k = 4.0; k + kBeat < kSeconds; k += kBeat) {
            const auto before = static_cast<std::size_t>(std::floor(k / kSecondsPerCycle)) - 1;
            const auto first = static_cast<std::size_t>(std::ceil((k + 0.005) / kSecondsPerCycle)) - 1;
            const auto next = static_cast<std::size_t>(std::floor((k + kBeat) / kSecondsPerCycle)) - 1;
            const int low = *std::min_element(band0.begin() + static_cast<long>(first),
                                              band0.begin() + static_cast<long>(next + 1));
            ++kicks;
            risen += band0[first] - band0[before] >= 4;
            fallen += band0[first] - low >= 4;
            minRise = std::min(minRise, band0[first] - band0[before]);
            minFall = std::min(minFall, band0[first] - low);
        }
        std::printf("kick at 120 bpm%s: band 0 rose by 4 or more in the first cycle after it at %d of %d kicks (least "
                    "%d), fell "
                    "back by 4 or more before the next at %d (least %d)\n",
                    chord ? " under a steady chord" : ", alone", risen, kicks, minRise, fallen, minFall);
    }
}

void silence(const std::string& path, SensitivityMode mode, bool dither, double slider)
{
    auto frames = atVolume(readRaw(path), slider, 0, true);
    constexpr double kMusic = 20.0, kSilence = 60.0;
    frames.resize(static_cast<std::size_t>(2 * kMusic * kSampleRate));
    frames.resize(static_cast<std::size_t>(2 * (kMusic + kSilence) * kSampleRate), 0);
    // A sound server's dither: TPDF over one least significant bit.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    for (std::size_t i = static_cast<std::size_t>(2 * kMusic * kSampleRate); dither && i < frames.size(); ++i)
        frames[i] = static_cast<float>(std::round(uniform(random) + uniform(random)));
    Pipeline pipeline(mode);
    // The frame keeps four steps of history per channel: the lamps are dark
    // once four cycles in a row are.
    int darkCycles = 0;
    double darkAt = -1;
    bool relit = false;
    for (double t = kSecondsPerCycle; t < kMusic + kSilence; t += kSecondsPerCycle) {
        const auto levels = pipeline.cycle(frames, static_cast<std::size_t>(t * kSampleRate));
        const bool dark = std::all_of(levels[0].begin(), levels[0].end(), [](int l) { return l == 0; }) &&
                          std::all_of(levels[1].begin(), levels[1].end(), [](int l) { return l == 0; });
        if (t < kMusic)
            continue;
        darkCycles = dark ? darkCycles + 1 : 0;
        if (darkCycles == 4 && darkAt < 0)
            darkAt = t - kMusic;
        relit = relit || (darkAt >= 0 && !dark);
    }
    std::printf("%s after music at %.0f %%: every lamp dark %.0f ms after the music stopped; %s in %.0f s\n",
                dither ? "dither" : "silence", slider * 100, darkAt * 1000,
                relit ? "a lamp lit again" : "none lit again", kSilence);
}

void demo(SensitivityMode mode)
{
    DemoSignal signal;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(2 * 30 * kSampleRate));
    signal.render(samples);
    const std::vector<float> frames(samples.begin(), samples.end());
    std::printf("demo tune\n");
    printBands("demo", run(frames, mode, 5.0, 30.0));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--write-kicks") {
        // The kicks as raw signed 16-bit stereo on standard output, for a
        // sound server to play.
        for (const float sample : kicks(std::atof(argv[3]), std::string(argv[2]) == "chord")) {
            const auto value = static_cast<std::int16_t>(sample);
            std::fwrite(&value, sizeof value, 1, stdout);
        }
        return 0;
    }
    SensitivityMode mode = SensitivityMode::Automatic;
    std::vector<std::pair<std::string, std::string>> tracks;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fixed") {
            mode = SensitivityMode::Fixed;
            continue;
        }
        const auto eq = arg.find('=');
        tracks.emplace_back(arg.substr(0, eq), eq == std::string::npos ? arg : arg.substr(eq + 1));
    }
    for (const auto& [path, label] : tracks)
        track(path, label, mode);
    beat(mode);
    if (!tracks.empty())
        for (const double slider : {1.0, 0.1})
            for (const bool dither : {false, true})
                silence(tracks.front().first, mode, dither, slider);
    demo(mode);
    return 0;
}
