// SPDX-License-Identifier: GPL-3.0-or-later
#include "framematrix.h"

#include "failure.h"

#include <cmath>
#include <limits>
#include <string>

namespace lumora {

std::int16_t& LampFrame::operator()(int row, int column)
{
    return m_cells.at(static_cast<std::size_t>(row - 1)).at(static_cast<std::size_t>(column - 1));
}

std::int16_t LampFrame::operator()(int row, int column) const
{
    return m_cells.at(static_cast<std::size_t>(row - 1)).at(static_cast<std::size_t>(column - 1));
}

int levelFromWidth(float width)
{
    const double level = std::floor(static_cast<double>(width) / 100 + 0.5);
    if (!(level >= std::numeric_limits<int>::min() && level <= std::numeric_limits<int>::max()))
        throw Failure(FailureNumber::Overflow, "lamp level of width " + std::to_string(width));
    return static_cast<int>(level);
}

std::int16_t lampByte(int level, bool barMode)
{
    if (level >= 0 && level <= wire::kMaxLevel)
        return wire::levelLampByte(level, barMode);
    if (level < std::numeric_limits<std::int16_t>::min() || level > std::numeric_limits<std::int16_t>::max())
        throw Failure(FailureNumber::Overflow, "lamp level " + std::to_string(level));
    return static_cast<std::int16_t>(level);  // a level the design never produces
}

void UpdateFrameMatrix(LampFrame& frame, const std::array<float, LampFrame::kSize>& leftWidths,
                       const std::array<float, LampFrame::kSize>& rightWidths, const std::function<bool()>& barMode)
{
    for (int r = 1; r <= LampFrame::kSize; ++r) {
        frame(r, 5) = frame(r, 6);
        frame(r, 6) = frame(r, 7);
        frame(r, 7) = frame(r, 8);
        frame(r, 4) = frame(r, 3);
        frame(r, 3) = frame(r, 2);
        frame(r, 2) = frame(r, 1);
    }
    for (int r = 1; r <= LampFrame::kSize; ++r) {
        const auto band = static_cast<std::size_t>(r - 1);
        const int left = levelFromWidth(leftWidths[band]);
        const int right = levelFromWidth(rightWidths[band]);
        const bool bars = barMode();
        frame(r, 1) = lampByte(left, bars);
        frame(r, 8) = lampByte(right, bars);
    }
}

}  // namespace lumora
