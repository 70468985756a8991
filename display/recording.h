// SPDX-License-Identifier: GPL-3.0-or-later
// The recording file of --record and --replay: every byte that came in,
// with the time it arrived.
//
// A text file, one line per read from the line (bytes that arrived
// together):
//
//   # lumora-display recording 1
//   0 0001030f1f3f7fff
//   1843 4d
//   <microseconds since the recording started> <the bytes, lowercase hex>
//
// Lines starting with '#' and empty lines are ignored; times never go
// backwards. Being text, a recording can be read, diffed and written by a
// test or a shell script.
//
// Plain C++, no Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumora::display {

struct RecordedChunk {
    std::chrono::microseconds offset{};  // since the recording started
    std::vector<std::uint8_t> bytes;      // never empty
    bool operator==(const RecordedChunk&) const = default;
};

// "0a1bff": two lowercase hex digits per byte.
std::string hexBytes(std::span<const std::uint8_t> bytes);

std::string recordingHeader();  // the first line, with its newline
std::string recordingLine(const RecordedChunk& chunk);  // with its newline

// The chunks of a whole recording, or nothing with `error` set to
// "line N: what is wrong".
std::optional<std::vector<RecordedChunk>> parseRecording(std::istream& in, std::string& error);

}  // namespace lumora::display
