// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "capture.h"

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
inline std::vector<int16_t> sineFrames(double hz, double leftAmplitude, double rightAmplitude,
                                       std::size_t frames, std::int64_t startFrame = 0)
{
    std::vector<int16_t> out(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double s = std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(startFrame + static_cast<std::int64_t>(i)) / 44100.0);
        out[2 * i] = static_cast<int16_t>(std::lround(leftAmplitude * s));
        out[2 * i + 1] = static_cast<int16_t>(std::lround(rightAmplitude * s));
    }
    return out;
}

// The spectrum as the program decodes it: the fill call into 2n + 1 spaces,
// then pairs of hex digits.
inline std::vector<int> spectrumOf(const Capture &capture, int channel)
{
    const int n = capture.spectrum(0, nullptr, 0);
    std::string text(static_cast<std::size_t>(2 * n + 1), ' ');
    capture.spectrum(channel, text.data(), static_cast<int32_t>(text.size()));
    std::vector<int> values(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::stoi(text.substr(2 * i, 2), nullptr, 16);
    return values;
}

inline std::size_t peakBin(const std::vector<int> &values)
{
    return static_cast<std::size_t>(std::max_element(values.begin(), values.end()) - values.begin());
}

inline bool allZero(const std::vector<int> &values)
{
    return std::all_of(values.begin(), values.end(), [](int v) { return v == 0; });
}

// The band the program folds value j of n into: floor(j * 10 / n), at most 7.
inline int bandOf(std::size_t j, std::size_t n)
{
    return std::min(7, static_cast<int>(std::floor(static_cast<double>(j) * 10.0 / static_cast<double>(n))));
}

// The program's eight lamp levels 0..8 for one spectrum: band sums, band
// gains (4b + 7) / 56000 of a 795-twip bar, width clamped, level = width
// in hundreds rounded.
inline std::array<int, 8> bandLevels(std::span<const uint8_t> values)
{
    std::array<long, 8> sums{};
    for (std::size_t j = 0; j < values.size(); ++j)
        sums[static_cast<std::size_t>(bandOf(j, values.size()))] += values[j];
    std::array<int, 8> levels{};
    for (std::size_t b = 0; b < 8; ++b) {
        const double width = std::clamp(std::nearbyint((4.0 * static_cast<double>(b) + 7.0) * 795.0 / 56000.0 *
                                                       static_cast<double>(sums[b])),
                                        0.0, 795.0);
        levels[b] = static_cast<int>(std::floor(width / 100.0 + 0.5));
    }
    return levels;
}

// Polls until the condition holds or the bound passes; answers whether it held.
inline bool waitUntil(const std::function<bool()> &condition,
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
// fresh values follow within 50 ms. `whilePaused` runs while paused.
// Empty when all held, otherwise what did not.
inline std::string pausesAndResumes(Capture &capture, const std::function<std::string()> &whilePaused = {})
{
    using Clock = std::chrono::steady_clock;
    if (!waitUntil([&] { return capture.vu(0) > 0; }))
        return "no sound before pausing";
    std::array<int16_t, 64> peek{};
    std::this_thread::sleep_for(Demand::kIdleAfter); // peeking into the ring is no call
    if (!waitUntil([&] { return !capture.ring().readNewest(0, peek); }, std::chrono::seconds(2)))
        return "the source did not pause";
    const std::string paused = whilePaused ? whilePaused() : std::string();
    if (!paused.empty())
        return paused;
    if (capture.ring().readNewest(0, peek))
        return "the paused source delivered frames";
    const auto resumed = Clock::now();
    capture.vu(0);
    while (Clock::now() - resumed < std::chrono::milliseconds(50)) {
        if (capture.vu(0) > 0)
            return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return "no fresh values within 50 ms of resuming";
}

} // namespace lumora::vbvis::testing
