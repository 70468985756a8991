// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture.h"
#include "framematrix.h"
#include "meters.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace lumora::vbvis::testing {

// Interleaved stereo sine frames at 44100 Hz; amplitude per channel in
// 16-bit units (0 leaves that channel silent). startFrame keeps the phase
// continuous across consecutive chunks.
inline std::vector<int16_t> sineFrames(double hz, double leftAmplitude, double rightAmplitude, std::size_t frames,
                                       std::int64_t startFrame = 0)
{
    std::vector<int16_t> out(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double s = std::sin(2.0 * std::numbers::pi * hz *
                                  static_cast<double>(startFrame + static_cast<std::int64_t>(i)) / 44100.0);
        out[2 * i] = static_cast<int16_t>(std::lround(leftAmplitude * s));
        out[2 * i + 1] = static_cast<int16_t>(std::lround(rightAmplitude * s));
    }
    return out;
}

// The spectrum as the program decodes it: the fill call into 2n + 1 spaces,
// then pairs of hex digits.
inline std::vector<int> spectrumOf(const Capture& capture, int channel)
{
    const int n = capture.spectrum(0, nullptr, 0);
    std::string text(static_cast<std::size_t>(2 * n + 1), ' ');
    capture.spectrum(channel, text.data(), static_cast<int32_t>(text.size()));
    std::vector<int> values(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::stoi(text.substr(2 * i, 2), nullptr, 16);
    return values;
}

inline bool allZero(const std::vector<int>& values)
{
    return std::all_of(values.begin(), values.end(), [](int v) { return v == 0; });
}

// The program's eight lamp levels 0..8 for one spectrum, as the window and
// the frame matrix compute them: band sums, bar widths of the design's
// 795 twips, levels from the widths.
inline std::array<int, 8> bandLevels(std::span<const uint8_t> values)
{
    constexpr std::int32_t kSpectrumMaxWidth = 795;
    const auto sums = meters::bandSums(values);
    std::array<int, 8> levels{};
    for (int b = 0; b < meters::kBands; ++b) {
        const auto band = static_cast<std::size_t>(b);
        levels[band] = levelFromWidth(static_cast<float>(meters::bandWidth(b, sums[band], kSpectrumMaxWidth)));
    }
    return levels;
}

// The band the program lights highest for the values (the lowest of
// equals), or -1 when every band is dark.
inline int litBand(const std::vector<int>& values)
{
    const std::vector<uint8_t> bytes(values.begin(), values.end());
    const auto levels = bandLevels(bytes);
    const auto top = std::max_element(levels.begin(), levels.end());
    return *top > 0 ? static_cast<int>(top - levels.begin()) : -1;
}

// Polls until the condition holds or the bound passes; answers whether it held.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// Stops asking and checks that the source pauses (its ring takes no frames
// although it has sound), then resumes it with a call and checks that
// fresh values follow (bench/vbvis10_bench measures how soon).
// `whilePaused` runs while paused. Empty when all held, otherwise what did
// not.
inline std::string pausesAndResumes(Capture& capture, const std::function<std::string()>& whilePaused = {})
{
    if (!waitUntil([&] { return capture.vu(0) > 0; }))
        return "no sound before pausing";
    std::array<float, 64> peek{};
    std::this_thread::sleep_for(Demand::kIdleAfter);  // peeking into the ring is no call
    if (!waitUntil([&] { return !capture.ring().readNewest(0, peek); }, std::chrono::seconds(2)))
        return "the source did not pause";
    const std::string paused = whilePaused ? whilePaused() : std::string();
    if (!paused.empty())
        return paused;
    if (capture.ring().readNewest(0, peek))
        return "the paused source delivered frames";
    capture.vu(0);
    if (waitUntil([&] { return capture.vu(0) > 0; }))
        return {};
    return "no fresh values after resuming";
}

}  // namespace lumora::vbvis::testing
