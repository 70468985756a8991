// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: any text as a recording, and what a replay does with
// its times.
//
// Input: when byte 0 is odd the recording's header goes before the rest,
// so that most inputs get past the first line. Traps when an accepted
// recording breaks the format's promises (empty or oversized chunks, times
// backwards or beyond the bound), does not survive being written and read
// again, or its times upset the rate meter a replay feeds.
#include "ratemeter.h"
#include "recording.h"

#include <cstddef>
#include <cstdint>
#include <sstream>

using namespace lumora::display;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string text = data[0] % 2 == 1 ? recordingHeader() : std::string();
    text.append(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::istringstream in(text);
    std::string error;
    const auto chunks = parseRecording(in, error);
    if (chunks.has_value() == !error.empty())
        __builtin_trap();
    if (!chunks)
        return 0;

    std::string written = recordingHeader();
    std::chrono::microseconds previous{};
    for (const RecordedChunk& chunk : *chunks) {
        if (chunk.bytes.empty() || chunk.bytes.size() > kMaxRecordedChunkBytes || chunk.offset < previous ||
            chunk.offset > kMaxRecordedOffset)
            __builtin_trap();
        previous = chunk.offset;
        written += recordingLine(chunk);
    }
    std::istringstream again(written);
    if (parseRecording(again, error) != chunks)
        __builtin_trap();

    // A replay's arrival times: the recorded offsets after a start on the
    // monotonic clock (here: up to four and a half years of uptime).
    RateMeter meter;
    const auto started = std::chrono::nanoseconds(static_cast<std::int64_t>(data[0]) << 49);
    for (const RecordedChunk& chunk : *chunks) {
        meter.add(started + chunk.offset, chunk.bytes.size());
        if (meter.perSecond(started + chunk.offset) < 0.0)
            __builtin_trap();
    }
    return 0;
}
