// SPDX-License-Identifier: GPL-3.0-or-later
// Turns the byte stream on the serial line back into cycles, as the
// display's firmware does: with the same cycle reader (wire/cyclereader.h),
// which counts 84 bytes per cycle and keeps the count in step by the
// cycles' content. What this class adds is the host's side of silences:
// it times the bytes, decides when a pause was a silence, and numbers what
// the reader completes as events.
//
// Bytes are timed as the display's UART would have them (ReceivedLine):
// one byte time apart, however the reader got them in chunks. A silence
// is the time from the end of one byte to the beginning of the next.
//
// A silence on the line longer than the silence threshold ends whatever was
// counted so far: the reader drops a partial cycle (a resynchronisation)
// and the next byte starts a new count. Inside a run, where a fast sender
// leaves no silence, a lost, added or corrupted byte is noticed by the
// content instead and the count moves to where the cycles are (a
// realignment); only cycles that fit the content rule are reported.
//
// The threshold is learned from the stream (wire/learnedsilence.h): six
// times the longest pause inside the recent ordinary cycles, within
// [kSilenceFloor, kSilenceCeiling], kInitialSilence until the first cycle
// is complete. A fixed threshold can be given instead.
//
// A silence that falls on a cycle boundary (nothing counted yet) is not a
// resynchronisation: nothing is dropped.
//
// Plain C++, single thread: whoever owns the decoder feeds it.
#pragma once

#include "cyclereader.h"
#include "learnedsilence.h"
#include "receivedline.h"
#include "wireformat.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumora::display {

// Arrival time of bytes on a monotonic clock; only differences matter.
using Nanoseconds = std::chrono::nanoseconds;

constexpr Nanoseconds kInitialSilence = std::chrono::milliseconds(50);
// Scheduling jitter of a reader on a busy machine reaches a few ms; below
// this floor it would split cycles.
constexpr Nanoseconds kSilenceFloor = std::chrono::milliseconds(10);
constexpr Nanoseconds kSilenceCeiling = std::chrono::milliseconds(500);
// Ordinary cycles over which the longest inner pause is remembered.
constexpr std::uint8_t kLearningCycles = 16;

struct DecodedEvent {
    // Resync: a silence dropped a partial count. Realign: bytes were dropped
    // without a silence (a cycle that broke the content rule, or a count
    // that was out of step); the cycle that follows is in step again.
    enum class Kind { Cycle, Blanking, Resync, Realign };
    Kind kind = Kind::Cycle;
    // Cycle, Blanking: 1, 2, ... over both kinds. Resync, Realign: the
    // number the next cycle will carry.
    std::uint64_t sequence = 0;
    wire::Cycle cycle;  // Cycle and Blanking only
    // Resync, Realign: bytes dropped since the previous event, 1 or more.
    std::uint64_t droppedBytes = 0;
    Nanoseconds arrival{};  // of the byte that completed the cycle / ended the silence
};

// Every byte fed is in a cycle, dropped, or pending:
//   bytes = 84 x (cycles + blankings) + droppedBytes + pendingBytes().
struct DecoderCounts {
    std::uint64_t cycles = 0;  // ordinary cycles, blanking sequences not included
    std::uint64_t blankings = 0;
    std::uint64_t resyncs = 0;       // partial cycles dropped after a silence
    std::uint64_t realignments = 0;  // counts moved because of the content
    std::uint64_t droppedBytes = 0;  // bytes in no cycle
    std::uint64_t bytes = 0;         // every byte fed
};

class CycleDecoder {
public:
    // fixedSilence: a threshold to use as it is; none learns one (see above).
    explicit CycleDecoder(std::optional<Nanoseconds> fixedSilence = std::nullopt);

    // Bytes that arrived together at `arrival`. Arrival times must not go
    // backwards. Appends what they complete to `events`, in stream order.
    void feed(std::span<const std::uint8_t> bytes, Nanoseconds arrival, std::vector<DecodedEvent>& events);

    const DecoderCounts& counts() const { return m_counts; }
    // Bytes since the last cycle that may still become part of one, 0..84.
    int pendingBytes() const { return m_reader.pendingBytes(); }
    Nanoseconds silenceThreshold() const;
    // Where the threshold stands: fixed by the caller, still being learned
    // from the stream, or learned.
    enum class SilenceState { Fixed, Learning, Learned };
    SilenceState silenceState() const
    {
        return m_fixedSilence        ? SilenceState::Fixed
               : m_silence.learned() ? SilenceState::Learned
                                     : SilenceState::Learning;
    }

private:
    void collect(wire::CycleReader::Completed completed, Nanoseconds arrival, std::vector<DecodedEvent>& events);

    wire::CycleReader m_reader;
    // The reader's counters as last turned into events and counts.
    wire::CycleReader::Counts m_seen;
    std::uint64_t m_unreportedDrops = 0;  // since the last event
    std::optional<Nanoseconds> m_fixedSilence;
    wire::ReceivedLine m_line;
    wire::LearnedSilence<Nanoseconds, kLearningCycles> m_silence{{kInitialSilence, kSilenceFloor, kSilenceCeiling}};
    std::uint64_t m_sequence = 0;
    DecoderCounts m_counts;
};

}  // namespace lumora::display
