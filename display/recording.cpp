// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording.h"

#include <charconv>

namespace lumora::display {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Why `line` is not a valid chunk line, or an empty string if it is.
std::string parseLine(const std::string& line, RecordedChunk& chunk)
{
    const auto space = line.find(' ');
    if (space == std::string::npos)
        return "expected '<microseconds> <hex bytes>'";
    std::int64_t micros = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + space, micros);
    if (ec != std::errc{} || end != line.data() + space || micros < 0)
        return "bad time '" + line.substr(0, space) + "'";
    std::string hex = line.substr(space + 1);
    while (!hex.empty() && (hex.back() == '\r' || hex.back() == ' '))
        hex.pop_back();
    if (hex.empty() || hex.size() % 2 != 0)
        return "expected an even, non-zero number of hex digits";
    chunk.offset = std::chrono::microseconds(micros);
    chunk.bytes.clear();
    chunk.bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return "bad hex digit";
        chunk.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return {};
}

}  // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0f]);
    }
    return text;
}

std::string recordingHeader()
{
    return "# lumora-display recording 1\n";
}

std::string recordingLine(const RecordedChunk& chunk)
{
    return std::to_string(chunk.offset.count()) + ' ' + hexBytes(chunk.bytes) + '\n';
}

std::optional<std::vector<RecordedChunk>> parseRecording(std::istream& in, std::string& error)
{
    std::vector<RecordedChunk> chunks;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line == "\r" || line.front() == '#')
            continue;
        RecordedChunk chunk;
        std::string problem = parseLine(line, chunk);
        if (problem.empty() && !chunks.empty() && chunk.offset < chunks.back().offset)
            problem = "time goes backwards";
        if (!problem.empty()) {
            error = "line " + std::to_string(number) + ": " + problem;
            return std::nullopt;
        }
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

}  // namespace lumora::display
