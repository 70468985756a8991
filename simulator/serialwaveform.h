// SPDX-License-Identifier: GPL-3.0-or-later
// A serial line's waveform and a UART receiver sampling it, bit by bit.
//
// The sender's bytes go onto the line as 57600-baud 8N1 frames, back to
// back while bytes wait, none before it was sent. A receiver at any rate
// starts a frame on a high-to-low edge, takes the start bit's middle (still
// low, or it was noise), each data bit's middle and the stop bit's middle,
// where a low level is a framing error; then it looks for the next edge.
// So a receiver at another rate (a bootloader at 115200 baud) reads what a
// real one would, and one that starts listening in the middle of a frame
// starts on the first falling edge it sees.
//
// Times are CPU cycles of the board, as doubles: the line's bit time is a
// fraction of a cycle. Plain C++ on one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace lumora::sim {

class SerialWaveform {
public:
    static constexpr int kFrameBits = 10;  // start, 8 data, stop

    explicit SerialWaveform(double lineBitCycles) : m_lineBit(lineBitCycles) { }

    // A byte sent at `cycle`: its frame begins then, or when the line is free.
    void send(std::uint8_t byte, double cycle);
    // Frames that have not begun by `cycle`.
    std::size_t waitingAt(double cycle) const;

    // High when idle and in stop bits, low in start bits; data LSB first.
    bool level(double cycle) const;

    struct Reception {
        double completed;  // the stop bit's middle
        std::uint8_t byte;
        bool framingError;
    };
    // The first frame a receiver listening from `from` with a bit time of
    // `bitCycles` completes, on what the line holds so far; nothing when no
    // falling edge follows `from`. Frames sent later can change it only if it
    // completes after they were sent.
    std::optional<Reception> receive(double from, double bitCycles) const;

    // Forgets the frames that ended by `cycle`; how many.
    std::size_t dropEndedBy(double cycle);

private:
    struct Frame {
        double start;
        std::uint8_t byte;
    };
    bool nextFallingEdge(double from, double& edge) const;

    double m_lineBit;
    std::deque<Frame> m_frames;
    double m_freeAt = 0;
};

}  // namespace lumora::sim
