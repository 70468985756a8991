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
// The first line is that header, exactly; after it, lines starting with
// '#' and empty lines are ignored. Times never go backwards and reach at
// most a year (kMaxRecordedOffset), so that they stay far from overflowing
// when turned into nanoseconds on a monotonic clock. A line holds at most
// kMaxRecordedChunkBytes bytes. Being text, a recording can be read, diffed
// and written by a test or a shell script.
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
    std::vector<std::uint8_t> bytes;     // never empty
    bool operator==(const RecordedChunk&) const = default;
};

std::string recordingHeader();                          // the first line, with its newline
std::string recordingLine(const RecordedChunk& chunk);  // with its newline

inline constexpr std::chrono::microseconds kMaxRecordedOffset = std::chrono::hours(24 * 365);
// Far above what one read from a line delivers (a few kilobytes), and small
// enough that one line of a hostile file costs little memory.
inline constexpr std::size_t kMaxRecordedChunkBytes = 1 << 20;

// Reads a recording one chunk at a time, so that a long recording costs no
// more memory than one line. Problems are reported as "line N: what is
// wrong".
class RecordingReader {
public:
    explicit RecordingReader(std::istream& in);

    // Reads the first line. False, with `error` set, unless it is the header.
    bool readHeader(std::string& error);
    // The next chunk. Nothing at the end of the input (`error` left empty)
    // or on a bad line (`error` set); call readHeader() first.
    std::optional<RecordedChunk> next(std::string& error);

private:
    // The next line without its newline; false at the end of the input or,
    // with `tooLong` set, when the line exceeds the longest valid one.
    bool readLine(std::string& line, bool& tooLong);

    std::istream& m_in;
    std::string m_line;
    int m_number = 0;
    std::chrono::microseconds m_previous{};
};

// The chunks of a whole recording, or nothing with `error` set.
std::optional<std::vector<RecordedChunk>> parseRecording(std::istream& in, std::string& error);

}  // namespace lumora::display
