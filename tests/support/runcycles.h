// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: the cycles of a streaming run as Lumora's own code builds
// them, faults put into their bytes on the way, and which cycles a reader
// then got right. Needs lumora_link.
#pragma once

#include "framematrix.h"
#include "marquee.h"
#include "streamingrun.h"
#include "wireformat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace lumora::testing {

// The real frame update from random band widths, Bar Modus changing now
// and then (the history keeps the old mode), and either the marquee
// (ticking now and then, from a random start) or a random printable text
// with the given share of spaces.
//
// Frames::TwoWaySeams keeps the bytes where lamps and text meet among the
// values that fit both ways, as Lumora would send them: band 0 on the left
// and band 7 on the right at level 6 (0x3F '?' in bar mode, 0x20 ' ' in
// dot mode), and a random text that starts and ends with a space.
// Frames::NoHistory scrambles the whole frame before each update, so that
// no cycle carries on the lamps of the one before.
class RunCycles {
public:
    static constexpr int kMarquee = -1;
    enum class Frames { Lumora, TwoWaySeams, NoHistory };

    RunCycles(unsigned seed, int spacePercent, Frames frames = Frames::Lumora)
        : m_random(seed), m_spacePercent(spacePercent), m_frames(frames)
    {
        for (int i = below(48); i > 0; --i)
            rotateLeft(m_marquee);
    }

    wire::Cycle next()
    {
        if (below(16) == 0)
            m_bars = !m_bars;
        std::array<float, LampFrame::kSize> left{}, right{};
        for (std::size_t band = 0; band < left.size(); ++band) {
            left[band] = static_cast<float>(below(800));
            right[band] = static_cast<float>(below(800));
        }
        if (m_frames == Frames::TwoWaySeams)
            left.front() = right.back() = kTwoWayWidth;
        if (m_frames == Frames::NoHistory) {
            for (int row = 1; row <= LampFrame::kSize; ++row) {
                for (int column = 1; column <= LampFrame::kSize; ++column)
                    m_frame(row, column) = lampByte(below(wire::kMaxLevel + 1), below(2) == 0);
            }
        }
        UpdateFrameMatrix(m_frame, left, right, [this] { return m_bars; });
        if (m_spacePercent == kMarquee) {
            if (below(4) == 0)
                rotateLeft(m_marquee);
            return currentCycle(m_frame, m_marquee);
        }
        std::string text(wire::kTextLength, ' ');
        for (char& c : text) {
            if (below(100) >= m_spacePercent)
                c = static_cast<char>('!' + below('~' - '!' + 1));
        }
        if (m_frames == Frames::TwoWaySeams)
            text.front() = text.back() = ' ';
        return currentCycle(m_frame, text);
    }

    int below(int limit) { return static_cast<int>(m_random() % static_cast<unsigned>(limit)); }

private:
    static constexpr float kTwoWayWidth = 600;  // level 6

    std::mt19937 m_random;
    int m_spacePercent;
    Frames m_frames;
    LampFrame m_frame;
    bool m_bars = true;
    std::string m_marquee{kInitialMarqueeText};
};

inline void append(std::vector<std::uint8_t>& bytes, const wire::Cycle& cycle)
{
    const auto encoded = wire::encode(cycle);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
}

// Lost: the byte is not sent. Repeated: it arrives twice. Added: `value`
// arrives before it. Corrupted: its bits in `value` are flipped.
// Replaced: `value` arrives instead.
enum class Fault { Lost, Repeated, Added, Corrupted, Replaced };

// The bytes of `cycles` with one fault at `offset` of cycle `faulty`.
inline std::vector<std::uint8_t> faultyStream(const std::vector<wire::Cycle>& cycles, int faulty, int offset,
                                              Fault fault, std::uint8_t value)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < cycles.size(); ++i) {
        append(bytes, cycles[i]);
        if (static_cast<int>(i) != faulty)
            continue;
        const auto at = bytes.end() - wire::kCycleBytes + offset;
        const std::uint8_t original = *at;
        switch (fault) {
        case Fault::Lost: bytes.erase(at); break;
        case Fault::Repeated: bytes.insert(at, original); break;
        case Fault::Added: bytes.insert(at, value); break;
        case Fault::Corrupted: *at = static_cast<std::uint8_t>(original ^ value); break;
        case Fault::Replaced: *at = value; break;
        }
    }
    return bytes;
}

// Which cycles of `sent` a reader reported exactly and in order; anything
// else it reported was shown wrong.
inline std::vector<bool> shownExactly(const std::vector<wire::Cycle>& sent, const std::vector<wire::Cycle>& reported)
{
    std::vector<bool> shown(sent.size(), false);
    auto next = sent.begin();
    for (const wire::Cycle& cycle : reported) {
        const auto match = std::find(next, sent.end(), cycle);
        if (match != sent.end()) {
            shown[static_cast<std::size_t>(match - sent.begin())] = true;
            next = match + 1;
        }
    }
    return shown;
}

}  // namespace lumora::testing
