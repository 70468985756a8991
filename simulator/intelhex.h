// SPDX-License-Identifier: GPL-3.0-or-later
// Intel HEX, as avrdude reads it and Arduino boards' bootloaders are
// shipped: data records (type 00) placed by extended segment (02) or
// extended linear (04) addresses, ended by an end-of-file record (01).
// Start-address records (03, 05) are read and ignored: a reset, not the
// file, decides where the chip starts. Every record's checksum is checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::sim {

struct HexChunk {
    std::uint32_t address = 0;  // byte address of data[0]
    std::vector<std::uint8_t> data;
};

// The data of `text`, in file order, one chunk per run of consecutive
// addresses. False, with `error` naming the line, for anything malformed.
bool parseIntelHex(std::string_view text, std::vector<HexChunk>& chunks, std::string& error);

}  // namespace lumora::sim
