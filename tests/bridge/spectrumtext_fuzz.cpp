// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the spectrum text decoder with any count and any text.
//
// Input: bytes 0-1 are the count n (16 bits, little-endian), the rest the
// text. Traps when the decoder refuses what it should take or takes what it
// should refuse, returns another number of values than n, or reads two hex
// digits as anything but their value.
#include "failure.h"
#include "modvbvis10.h"

#include <cstddef>
#include <cstdint>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const auto n = static_cast<std::int16_t>(data[0] | data[1] << 8);
    const std::span<const char> text(reinterpret_cast<const char*>(data) + 2, size - 2);
    const bool fits = n >= 0 && text.size() >= 2 * static_cast<std::size_t>(n);
    std::vector<std::uint8_t> values;
    try {
        values = lumora::modVbVis10::decodeSpectrumText(text, n);
    } catch (const lumora::Failure&) {
        if (fits)
            __builtin_trap();
        return 0;
    }
    if (!fits || values.size() != static_cast<std::size_t>(n))
        __builtin_trap();
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high >= 0 && low >= 0 && values[i] != high * 16 + low)
            __builtin_trap();
    }
    return 0;
}
