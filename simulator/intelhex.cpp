// SPDX-License-Identifier: GPL-3.0-or-later
#include "intelhex.h"

namespace lumora::sim {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The record's bytes after the colon; false when a character is no hex digit.
bool recordBytes(std::string_view hex, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    if (hex.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

}  // namespace

bool parseIntelHex(std::string_view text, std::vector<HexChunk>& chunks, std::string& error)
{
    chunks.clear();
    std::uint32_t base = 0;
    std::vector<std::uint8_t> record;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.front() != ':' || !recordBytes(line.substr(1), record) || record.size() < 5) {
            error = where + "not an Intel HEX record";
            return false;
        }
        const std::size_t count = record[0];
        if (record.size() != count + 5) {
            error = where + "the record's length does not match its count";
            return false;
        }
        std::uint8_t sum = 0;
        for (std::uint8_t b : record)
            sum = static_cast<std::uint8_t>(sum + b);
        if (sum != 0) {
            error = where + "wrong checksum";
            return false;
        }
        const std::uint32_t offset = static_cast<std::uint32_t>(record[1] << 8 | record[2]);
        const std::uint8_t type = record[3];
        const auto data = std::vector<std::uint8_t>(record.begin() + 4, record.end() - 1);
        switch (type) {
        case 0x00: {
            const std::uint32_t address = base + offset;
            if (chunks.empty() || chunks.back().address + chunks.back().data.size() != address)
                chunks.push_back({address, {}});
            chunks.back().data.insert(chunks.back().data.end(), data.begin(), data.end());
            break;
        }
        case 0x01: return true;
        case 0x02:
        case 0x04:
            if (data.size() != 2) {
                error = where + "an address record needs two bytes";
                return false;
            }
            base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << (type == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05: break;
        default: error = where + "unknown record type " + std::to_string(type); return false;
        }
    }
    error = "no end-of-file record";
    return false;
}

}  // namespace lumora::sim
