// SPDX-License-Identifier: GPL-3.0-or-later
// VU and spectrum scaling: from the bridge's values to bar widths in twips.
//
// All arithmetic is double precision in a fixed order, and "rounded" means
// to the nearest integer with halves to even (the default floating-point
// rounding mode): 3187.5 gives 3188, 99.5 gives 100, 100.5 gives 100.
#pragma once

#include "cycleformat.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumora::meters {

inline constexpr int kBands = wire::kRows;       // one row of lamps per band
inline constexpr double kVuFullScale = 16000.0;  // VU value that fills the bar

// Rounds to a 32-bit integer, halves to even. Throws Overflow outside int32.
std::int32_t roundToInt32(double value);

// Width of a VU bar: vuMaxWidth / 16000 * vu, rounded, at most vuMaxWidth.
std::int32_t vuWidth(std::int16_t vu, std::int32_t vuMaxWidth);

// The most values bandSums() takes: the band sums are defined over a
// 16-bit index that must reach n, so a longer list is an Overflow.
inline constexpr std::size_t kMaxBandValues = 32767;

// The eight band sums of a spectrum: value j goes to band
// floor(j * 10 / n), bands above 7 folded into 7, so bands 0..6 each take a
// tenth of the list and band 7 the last three tenths. Throws Overflow for
// more than kMaxBandValues values.
std::array<std::int32_t, kBands> bandSums(std::span<const std::uint8_t> values);

// Width of band b's bar for a band sum: (4b + 7) * maxWidth / 56000 * sum,
// rounded, then clamped to 0..maxWidth. Band 0 fills at a sum of 8000,
// band 7 at 1600.
std::int32_t bandWidth(int band, std::int32_t sum, std::int32_t spectrumMaxWidth);

// The eight bar widths of one channel. No spectrum at all counts as
// silence: every width 0.
std::array<std::int32_t, kBands> spectrumWidths(const std::optional<std::vector<std::uint8_t>>& spectrum,
                                                std::int32_t spectrumMaxWidth);

}  // namespace lumora::meters
