// SPDX-License-Identifier: GPL-3.0-or-later
// Turns the received bytes into cycles: 84 bytes, 64 lamp bytes then 20
// characters; 64 zero bytes and 20 spaces are the blanking sequence.
//
// For now it only counts: a silence drops a partial cycle and starts a new
// count, and a lost byte shifts every cycle after it until the next
// silence.
#pragma once

#include <stdint.h>

namespace link {

constexpr uint8_t kLampBytes = 64;
constexpr uint8_t kTextLength = 20;
constexpr uint8_t kCycleBytes = kLampBytes + kTextLength;

class LinkDecoder {
public:
    enum Event : uint8_t { kNothing, kCycle, kBlanking };

    Event feed(uint8_t byte)
    {
        m_bytes[m_count++] = byte;
        if (m_count < kCycleBytes)
            return kNothing;
        m_count = 0;
        for (uint8_t i = 0; i < kCycleBytes; ++i)
            m_cycle[i] = m_bytes[i];
        return isBlanking() ? kBlanking : kCycle;
    }

    // A pause longer than any inside a cycle came before the next byte.
    void silence()
    {
        if (m_count != 0)
            m_realignments = static_cast<uint16_t>(m_realignments + 1);
        m_count = 0;
    }

    // The 84 bytes of the last complete cycle or blanking sequence.
    const uint8_t* cycle() const { return m_cycle; }
    // Times a partial cycle was dropped to start counting afresh.
    uint16_t realignments() const { return m_realignments; }

private:
    bool isBlanking() const
    {
        for (uint8_t i = 0; i < kCycleBytes; ++i) {
            if (m_cycle[i] != (i < kLampBytes ? 0 : ' '))
                return false;
        }
        return true;
    }

    uint8_t m_bytes[kCycleBytes] = {};
    uint8_t m_cycle[kCycleBytes] = {};
    uint8_t m_count = 0;
    uint16_t m_realignments = 0;
};

}  // namespace link
