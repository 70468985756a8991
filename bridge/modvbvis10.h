// SPDX-License-Identifier: GPL-3.0-or-later
// modVbVis10: the program's only link to the visualization library
// libVbVis10.so, and the decoder of its spectrum text.
//
// The library is loaded through the ordinary library search (LD_LIBRARY_PATH
// first, then the program's own lib folder through RUNPATH) at the first call
// of any of its functions, and stays loaded. Each function is looked up by
// name at its own first call. Runs on the window thread.
//
// Every failure throws lumora::Failure: a library that cannot be loaded
// (LibraryNotFound), a function it lacks (FunctionNotFound), a count that
// does not fit the 16-bit buffer arithmetic (Overflow).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumora::modVbVis10 {

inline constexpr const char* kLibraryName = "libVbVis10.so";

// The largest spectrum count: 2n + 1 characters must fit a 16-bit signed length.
inline constexpr std::int16_t kMaxSpectrumCount = 16383;

// -1 (true) when the library reports the plug-in installed, else 0.
std::int16_t InstallPlugin();

// The channel's VU value, negatives read as 0: 0..32767.
std::int16_t GetVu(std::int32_t channel);

// The channel's spectrum, one byte per value. No value at all (a count of 0)
// gives std::nullopt, which is not the same as an empty list.
std::optional<std::vector<std::uint8_t>> GetSpectrum(std::int32_t channel);

// The decoding step alone: n values from the first 2n characters of text,
// each pair read as a hexadecimal number (blanks skipped, digits read up to
// the first other character, no digit gives 0). Throws Internal unless
// 0 <= n and text holds at least 2n characters.
std::vector<std::uint8_t> decodeSpectrumText(std::span<const char> text, std::int16_t n);

// The buffer length for a count n in 16-bit arithmetic: 2n + 1. Throws
// Overflow when n is negative or above kMaxSpectrumCount.
std::int16_t spectrumBufferLength(std::int16_t n);

}  // namespace lumora::modVbVis10
