// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording.h"

#include "hextext.h"
#include "wireformat.h"

#include <charconv>

namespace lumora::display {

namespace {

// Reads a chunk line into `chunk`; false, with `problem` saying why, for
// one that is not valid.
bool parseLine(const std::string& line, RecordedChunk& chunk, std::string& problem)
{
    const auto fail = [&problem](std::string why) {
        problem = std::move(why);
        return false;
    };
    const auto space = line.find(' ');
    if (space == std::string::npos)
        return fail("expected '<microseconds> <hex bytes>'");
    std::int64_t micros = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + space, micros);
    if (ec != std::errc{} || end != line.data() + space || micros < 0)
        return fail("bad time '" + line.substr(0, space) + "'");
    if (micros > kMaxRecordedOffset.count())
        return fail("time '" + line.substr(0, space) + "' is more than a year");
    std::string hex = line.substr(space + 1);
    while (!hex.empty() && (hex.back() == '\r' || hex.back() == ' '))
        hex.pop_back();
    if (hex.empty() || hex.size() % 2 != 0)
        return fail("expected an even, non-zero number of hex digits");
    if (hex.size() / 2 > kMaxRecordedChunkBytes)
        return fail("more than " + std::to_string(kMaxRecordedChunkBytes) + " bytes");
    chunk.offset = std::chrono::microseconds(micros);
    chunk.bytes.clear();
    chunk.bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigitValue(hex[i]);
        const int low = hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return fail("bad hex digit");
        chunk.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

}  // namespace

std::string recordingHeader()
{
    return "# lumora-display recording 1\n";
}

std::string recordingLine(const RecordedChunk& chunk)
{
    return std::to_string(chunk.offset.count()) + ' ' + hexBytes(chunk.bytes) + '\n';
}

RecordingReader::RecordingReader(std::istream& in) : m_in(in)
{
}

bool RecordingReader::readLine(std::string& line, bool& tooLong)
{
    // The time, a space, two hex digits per byte and a carriage return.
    constexpr std::size_t kLongestLine = 20 + 1 + 2 * kMaxRecordedChunkBytes + 1;
    line.clear();
    tooLong = false;
    std::streambuf* buffer = m_in.rdbuf();
    if (!buffer)
        return false;
    for (;;) {
        const auto c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof())
            return !line.empty();
        if (c == '\n')
            return true;
        if (line.size() == kLongestLine) {
            tooLong = true;
            return false;
        }
        line.push_back(static_cast<char>(c));
    }
}

bool RecordingReader::readHeader(std::string& error)
{
    m_number = 1;
    bool tooLong = false;
    const bool read = readLine(m_line, tooLong);
    if (!m_line.empty() && m_line.back() == '\r')
        m_line.pop_back();
    if (!read || m_line + '\n' != recordingHeader()) {
        error = "line 1: not a lumora-display recording (it must start with '" +
                recordingHeader().substr(0, recordingHeader().size() - 1) + "')";
        return false;
    }
    return true;
}

std::optional<RecordedChunk> RecordingReader::next(std::string& error)
{
    bool tooLong = false;
    while (readLine(m_line, tooLong)) {
        ++m_number;
        if (m_line.empty() || m_line == "\r" || m_line.front() == '#')
            continue;
        RecordedChunk chunk;
        std::string problem;
        if (parseLine(m_line, chunk, problem) && chunk.offset < m_previous)
            problem = "time goes backwards";
        if (!problem.empty()) {
            error = "line " + std::to_string(m_number) + ": " + problem;
            return std::nullopt;
        }
        m_previous = chunk.offset;
        return chunk;
    }
    if (tooLong)
        error = "line " + std::to_string(m_number + 1) + ": longer than " + std::to_string(kMaxRecordedChunkBytes) +
                " bytes";
    return std::nullopt;
}

std::optional<std::vector<RecordedChunk>> parseRecording(std::istream& in, std::string& error)
{
    RecordingReader reader(in);
    if (!reader.readHeader(error))
        return std::nullopt;
    std::vector<RecordedChunk> chunks;
    while (auto chunk = reader.next(error))
        chunks.push_back(std::move(*chunk));
    if (!error.empty())
        return std::nullopt;
    return chunks;
}

}  // namespace lumora::display
