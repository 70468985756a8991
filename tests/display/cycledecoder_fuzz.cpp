// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: any bytes at any times through the decoder.
//
// Input: byte 0 picks the threshold (even: learned, odd: fixed at that many
// ms); then records of [pause][length][length bytes], the pause being
// pause^2 * 10 us (0 .. 650 ms) before the record's bytes arrive together.
// Traps when the decoder loses track of a byte, numbers cycles out of
// order, shows a cycle that breaks the content rule, or calls something a
// blanking sequence that is not one.
#include "cycledecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace lumora::display;
using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::optional<Nanoseconds> fixed;
    if (data[0] % 2 == 1)
        fixed = std::chrono::milliseconds(data[0]);
    CycleDecoder decoder(fixed);

    Nanoseconds now = std::chrono::seconds(1);
    std::vector<DecodedEvent> events;
    std::uint64_t fed = 0;
    std::size_t at = 1;
    while (at + 2 <= size) {
        const int pause = data[at];
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        now += std::chrono::microseconds(pause * pause * 10);
        decoder.feed({data + at + 2, length}, now, events);
        fed += length;
        at += 2 + length;
    }

    std::uint64_t sequence = 0;
    std::uint64_t cycles = 0, blankings = 0, resyncs = 0, told = 0;
    for (const DecodedEvent& event : events) {
        switch (event.kind) {
        case DecodedEvent::Kind::Resync:
        case DecodedEvent::Kind::Realign:
            if (event.droppedBytes < 1 || event.sequence != sequence + 1)
                __builtin_trap();
            told += event.droppedBytes;
            resyncs += event.kind == DecodedEvent::Kind::Resync ? 1 : 0;
            break;
        case DecodedEvent::Kind::Blanking:
        case DecodedEvent::Kind::Cycle: {
            const bool blanking = event.kind == DecodedEvent::Kind::Blanking;
            if (event.sequence != ++sequence || wire::isBlanking(event.cycle) != blanking)
                __builtin_trap();
            const auto bytes = wire::encode(event.cycle);
            for (int offset = 0; offset < wire::kCycleBytes; ++offset) {
                if (!wire::fitsCycleOffset(bytes[static_cast<std::size_t>(offset)], offset))
                    __builtin_trap();
            }
            ++(blanking ? blankings : cycles);
            break;
        }
        }
    }
    const DecoderCounts& counts = decoder.counts();
    const auto pending = static_cast<std::uint64_t>(decoder.pendingBytes());
    if (counts.bytes != fed || counts.cycles != cycles || counts.blankings != blankings || counts.resyncs != resyncs ||
        told > counts.droppedBytes || (cycles + blankings) * wire::kCycleBytes + counts.droppedBytes + pending != fed ||
        pending > wire::kCycleBytes)
        __builtin_trap();
    if (decoder.silenceThreshold() <= Nanoseconds::zero())
        __builtin_trap();
    return 0;
}
