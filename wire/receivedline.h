// SPDX-License-Identifier: GPL-3.0-or-later
// When a receiving UART has each byte of what a reader got in chunks.
//
// A program that reads the line through a pseudo-terminal or a USB adapter
// gets its bytes in chunks: early, when the sender hands a pty its bytes
// ahead of the line (as a driver's queue holds them), or late, when the
// reader was not scheduled at once. A UART gets them one byte time apart
// (1 / 5760 s at 57600 baud). ReceivedLine plays that UART: a chunk's first
// byte begins when the chunk arrived or when the previous byte has ended,
// whichever is later, and the rest follow one byte time apart. The silence
// before a chunk is the time from the end of the previous byte to the
// beginning of its first: what a display on the line would have seen, and
// what tells cycles apart.
//
// Host only (std::chrono); single thread.
#pragma once

#include "cycleformat.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace lumora::wire {

class ReceivedLine {
public:
    using Nanoseconds = std::chrono::nanoseconds;

    struct Placed {
        Nanoseconds firstByte;  // when the chunk's first byte begins
        Nanoseconds silence;    // before it, since the previous byte ended; 0 for the first chunk
    };

    // Places a chunk of `bytes` (1 or more) that arrived at `arrival`.
    // Arrival times must not go backwards.
    Placed place(Nanoseconds arrival, std::size_t bytes)
    {
        Placed placed{arrival, Nanoseconds::zero()};
        if (m_anchor) {
            const Nanoseconds free = lineFree();
            placed.firstByte = std::max(arrival, free);
            placed.silence = placed.firstByte - free;
        }
        if (!m_anchor || placed.silence > Nanoseconds::zero()) {
            m_anchor = placed.firstByte;
            m_bytesSinceAnchor = 0;
        }
        m_bytesSinceAnchor += static_cast<std::int64_t>(bytes);
        return placed;
    }

    // When byte `index` (0 = the first) of a chunk placed at `firstByte`
    // begins.
    static Nanoseconds byteBegins(Nanoseconds firstByte, std::size_t index)
    {
        return firstByte + bytesTime(static_cast<std::int64_t>(index));
    }

private:
    static Nanoseconds bytesTime(std::int64_t bytes)
    {
        constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
        return Nanoseconds(bytes / kLineBytesPerSecond * kNanosPerSecond +
                           bytes % kLineBytesPerSecond * kNanosPerSecond / kLineBytesPerSecond);
    }
    Nanoseconds lineFree() const { return *m_anchor + bytesTime(m_bytesSinceAnchor); }

    // The start of the stretch the line has carried without a silence,
    // and the bytes in it: exact however long the stretch.
    std::optional<Nanoseconds> m_anchor;
    std::int64_t m_bytesSinceAnchor = 0;
};

}  // namespace lumora::wire
