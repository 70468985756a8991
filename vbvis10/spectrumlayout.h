// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrum values the library hands over, laid out for the program.
//
// The program folds n values into its eight bands by position (value j into
// band floor(j * 10 / n), band 7 taking the last three tenths) and weighs
// band b's sum by (4b + 7) / 56000 of its full scale, 795 twips, before it
// reads a lamp level as the width in hundreds of twips, rounded: level 8
// from 750 twips, a width it reaches at a sum of 7547 in band 0 and of 1509
// in band 7.
//
// So the library hands over kSpectrumValues = 320 values: band b (0..6) is
// carried by values 32b .. 32b + 31, band 7 by values 224 .. 319, and each
// band answers to its own eighth of the musical range (analysis.h). A band's
// values share evenly the sum that shows its level: value = the band's
// level (0..8, a fraction allowed) as a band sum, level * 100 * 56000 /
// ((4b + 7) * 795), divided among the band's values; what the division
// leaves goes one each to its first values. A value never exceeds 255;
// band 0's 32 values reach level 8 at 236 each.
#pragma once

#include "analysis.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumora::vbvis {

inline constexpr std::size_t kSpectrumValues = 320;
inline constexpr double kTopLevel = 8.0;

// The first value of band b (0..7), and of the band after band 7 (8).
std::size_t firstValueOfBand(int b);

// levels: each band's level, 0..8 (outside: the nearest end).
void encodeLevels(const std::array<double, kBands>& levels, std::span<uint8_t, kSpectrumValues> values);

}  // namespace lumora::vbvis
