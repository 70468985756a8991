// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes as hex text, as recordings, test output and the bridge's spectrum
// text write them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lumora {

// "0a1bff": two lowercase hex digits per byte.
std::string hexBytes(std::span<const std::uint8_t> bytes);

// The value 0..15 of a hex digit in either case; -1 for any other character.
constexpr int hexDigitValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

}  // namespace lumora
