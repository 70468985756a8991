// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp frame: eight rows (one per spectrum band) of eight lamp bytes,
// four steps of history per channel, and its once-per-cycle update.
//
// Row r, column c is the cycle's lamp group (r, c) as cycleformat.h lays it
// out: columns 1..4 the left channel, newest first; 5..8 the right one,
// newest last. Rows and columns are numbered 1..8. The matrix lives as
// long as the window and is never cleared, so a new run starts from the
// old history.
#pragma once

#include "cycleformat.h"

#include <array>
#include <cstdint>
#include <functional>

namespace lumora {

class LampFrame {
public:
    static constexpr int kSize = wire::kRows;
    static_assert(wire::kColumns == wire::kRows, "the frame is square");

    std::int16_t& operator()(int row, int column);
    std::int16_t operator()(int row, int column) const;

    bool operator==(const LampFrame&) const = default;

private:
    std::array<std::array<std::int16_t, kSize>, kSize> m_cells{};
};

// Lamp level of a bar width in twips: floor(w / 100 + 0.5), so halves go up
// (149.99 gives 1, 150 gives 2) and the design maximum 795 gives 8.
int levelFromWidth(float width);

// Lamp byte of a level: wire::levelLampByte for 0..8. A level outside
// 0..8 is stored as its own number; one outside 16 bits throws Overflow.
std::int16_t lampByte(int level, bool barMode);

// One step of the frame: every row's history moves one column towards the
// middle (the oldest level of each channel is dropped), then the newest
// levels, read from the band widths, enter columns 1 and 8. barMode is asked
// once per row.
void UpdateFrameMatrix(LampFrame& frame, const std::array<float, LampFrame::kSize>& leftWidths,
                       const std::array<float, LampFrame::kSize>& rightWidths, const std::function<bool()>& barMode);

}  // namespace lumora
