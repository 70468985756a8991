// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: the firmware image on the simulated board, in this process,
// in simulated time and as fast as the machine runs it. Bytes go onto the
// line at the moment they are sent; everything the display shows is kept.
#pragma once

#include "simulateddisplay.h"
#include "wireformat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumora::sim::testing {

// What the display showed after an update, or at a moment.
struct Shown {
    long millisecond = 0;  // simulated, since power-on
    std::string lamps;     // 64 lamp bytes in hex, as the cycle's encode() would give
    std::string line1;
    std::string line2;
    bool cursor = false;
};

std::string hexOfLamps(const wire::Cycle& cycle);
std::string textOf(const wire::Cycle& cycle);
const std::string& darkLamps();

// A cycle as Lumora sends it: levels 0..8 in bar or dot mode, printable text.
wire::Cycle lumoraLikeCycle(std::mt19937& random, const std::string& text);
std::vector<std::uint8_t> bytesOf(const std::vector<wire::Cycle>& cycles);

// Runs `body` in a child process, a copy of this one with the board as it
// stands, and returns what the body returned (empty: all was well), or
// why the child died. Many cases that start from one moment of a run each
// get their own copy of it, for the price of one run up to it.
std::string inChild(const std::function<std::string()>& body);

class BoardRun {
public:
    explicit BoardRun(Bootloader bootloader = Bootloader::None);

    // Runs until `ms` of simulated time since power-on; false when the
    // firmware stopped.
    bool runUntil(long ms);
    bool runFor(long ms) { return runUntil(nowMs() + ms); }
    long nowMs() const;
    // Runs in steps of a millisecond until `done` holds or `ms` has passed;
    // whether it held.
    template <typename Done> bool runUntilOr(long ms, Done done)
    {
        while (!done()) {
            if (nowMs() >= ms || !runUntil(nowMs() + 1))
                return false;
        }
        return true;
    }

    // Bytes onto the line from now, back to back.
    void send(const std::vector<std::uint8_t>& bytes);

    Shown shown() const;
    // The updates so far, power-up first.
    const std::vector<Shown>& updates() const { return m_updates; }
    SimulatedDisplay& display() { return *m_display; }

private:
    std::unique_ptr<SimulatedDisplay> m_display;
    std::vector<Shown> m_updates;
};

}  // namespace lumora::sim::testing
