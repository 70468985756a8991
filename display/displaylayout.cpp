// SPDX-License-Identifier: GPL-3.0-or-later
#include "displaylayout.h"

#include "wireformat.h"

#include <algorithm>

namespace lumora::display {

namespace {

constexpr double kMargin = 16;
constexpr double kLabelWidth = 72;
constexpr double kHeaderHeight = 22;
constexpr double kStatusHeight = 52;
constexpr double kTextHeight = 64;
// In lamp pitches: the gap between two groups of a channel, and the extra
// gap between the channels.
constexpr double kGroupGap = 0.9;
constexpr double kChannelGap = 1.2;
// Lamp pitches across the whole lamp area.
constexpr double kPitchesAcross = wire::kColumns * 8 + (wire::kColumns - 1) * kGroupGap + kChannelGap;
// A row is one lamp high; rows stand this many pitches apart at most.
constexpr double kRowPitches = 2.6;

}  // namespace

DisplayLayout::DisplayLayout(int width, int height)
    : m_width(std::max(width, kMinimumWidth)), m_height(std::max(height, kMinimumHeight))
{
    const double areaWidth = m_width - 2 * kMargin - kLabelWidth;
    const double areaTop = kMargin + kTextHeight + kHeaderHeight;
    const double areaHeight = m_height - areaTop - kStatusHeight - kMargin;
    m_pitch = std::min(areaWidth / kPitchesAcross, areaHeight / (wire::kRows * 1.4));
    m_rowPitch = std::min(areaHeight / wire::kRows, m_pitch * kRowPitches);
    const double usedWidth = m_pitch * kPitchesAcross;
    m_lampsLeft = kMargin + kLabelWidth + (areaWidth - usedWidth) / 2;
    m_lampsTop = areaTop + (areaHeight - m_rowPitch * wire::kRows) / 2;

    m_textCell = std::min((m_width - 2 * kMargin) / wire::kTextLength, kTextHeight * 0.8);
    m_textLeft = (m_width - m_textCell * wire::kTextLength) / 2;
    m_textTop = kMargin + (kTextHeight - m_textCell * 1.25) / 2;
}

double DisplayLayout::groupLeft(int column) const
{
    const int index = column - 1;
    double left = m_lampsLeft + index * (8 + kGroupGap) * m_pitch;
    if (index >= wire::kColumns / 2)
        left += kChannelGap * m_pitch;
    return left;
}

PointF DisplayLayout::lampCentre(int row, int column, int lamp) const
{
    return {groupLeft(column) + (lamp - 0.5) * m_pitch, m_lampsTop + (row - 0.5) * m_rowPitch};
}

RectF DisplayLayout::textCell(int index) const
{
    return {m_textLeft + index * m_textCell, m_textTop, m_textCell * 0.92, m_textCell * 1.25};
}

RectF DisplayLayout::rowLabel(int row) const
{
    return {kMargin, m_lampsTop + (row - 1) * m_rowPitch, kLabelWidth - 8, m_rowPitch};
}

RectF DisplayLayout::columnHeader(int column) const
{
    return {groupLeft(column), m_lampsTop - kHeaderHeight, 8 * m_pitch, kHeaderHeight};
}

RectF DisplayLayout::status() const
{
    return {kMargin, m_height - kMargin - kStatusHeight, m_width - 2 * kMargin, kStatusHeight};
}

}  // namespace lumora::display
