// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <string_view>

namespace lumora::testing {

// Noise shaped like recorded music, for measuring the spectrum scale:
// pink noise (falling 3 dB per octave, as the long-term spectrum of most
// music does) pulsed on a 120-bpm beat, under a kick drum, with the
// loudness swelling between about -30 and -10 dB full scale over 8 s.
// Three colours: Pink as it is; Dark with the top end rolled off above
// 3 kHz (mellow, acoustic); Bright with the top raised by 6 dB per octave
// above 3 kHz (loud, cymbal-heavy). Left and right get independent noise.
class MusicLikeSignal {
public:
    enum class Colour { Pink, Dark, Bright };

    explicit MusicLikeSignal(Colour colour, std::uint32_t seed = 1) : m_colour(colour), m_state(seed | 1u) { }

    static std::string_view name(Colour colour)
    {
        return colour == Colour::Pink ? "pink" : colour == Colour::Dark ? "dark" : "bright";
    }

    // Fills interleaved left/right frames at 44100 Hz.
    void render(std::span<int16_t> interleaved)
    {
        constexpr double kRate = 44100.0;
        for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
            const double t = static_cast<double>(m_frame++) / kRate;
            const double inBeat = std::fmod(t, 0.5);
            const double swellDb = -20.0 + 10.0 * std::sin(2.0 * std::numbers::pi * t / 8.0);
            const double gain = std::pow(10.0, swellDb / 20.0);
            const double pulse = 0.5 + 0.5 * std::exp(-inBeat / 0.1);
            const double kick =
                2.0 * std::exp(-inBeat / 0.12) *
                std::sin(2.0 * std::numbers::pi * (50.0 * inBeat + 2.0 * (1.0 - std::exp(-inBeat / 0.03))));
            for (int c = 0; c < 2; ++c) {
                const double x = gain * (pulse * shaped(c) + kick);
                interleaved[i + static_cast<std::size_t>(c)] =
                    static_cast<int16_t>(std::lround(std::clamp(x, -1.0, 1.0) * 32767.0));
            }
        }
    }

private:
    double white()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return static_cast<double>(m_state) / 2147483648.0 - 1.0;
    }

    // Pink noise (Paul Kellet's economy filter) with the colour's tilt.
    double shaped(int c)
    {
        double* b = m_pink[c];
        const double w = white();
        b[0] = 0.99765 * b[0] + w * 0.0990460;
        b[1] = 0.96300 * b[1] + w * 0.2965164;
        b[2] = 0.57000 * b[2] + w * 1.0526913;
        const double pink = 0.25 * (b[0] + b[1] + b[2] + w * 0.1848);
        // One-pole low-pass at about 3 kHz: its complement is the top end.
        constexpr double kPole = 0.65;
        m_low[c] = kPole * m_low[c] + (1.0 - kPole) * pink;
        const double high = pink - m_low[c];
        switch (m_colour) {
        case Colour::Dark: return m_low[c];
        case Colour::Bright: return pink + 2.0 * high;
        case Colour::Pink: break;
        }
        return pink;
    }

    Colour m_colour;
    std::uint32_t m_state;
    std::int64_t m_frame = 0;
    double m_pink[2][3]{};
    double m_low[2]{};
};

}  // namespace lumora::testing
