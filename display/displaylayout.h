// SPDX-License-Identifier: GPL-3.0-or-later
// Where everything sits in the display window, as a function of its size.
//
//   +--------------------------------------------------------------+
//   |             [ 20 character cells of the text line ]          |
//   |        L now   L -1   L -2   L -3   R -3   R -2   R -1  R now |
//   | band 0 oooooooo oooooooo oooooooo oooooooo  oooooooo ... x8   |
//   |  ...                                                         |
//   | band 7 oooooooo ...                                          |
//   | counters and rates                                           |
//   +--------------------------------------------------------------+
//
// Row r shows band r - 1, band 0 at the top. Each group is one lamp byte
// drawn as eight lamps in a line, lamp 1 (bit 0, level 1) on the left,
// lamp 8 (bit 7) on the right. A wider gap parts the left channel's four
// groups from the right channel's.
//
// Plain arithmetic in pixels, no Qt: the window paints with it and the
// screenshot test finds the lamps with it.
#pragma once

namespace lumora::display {

struct PointF {
    double x = 0;
    double y = 0;
};

struct RectF {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

class DisplayLayout {
public:
    static constexpr int kDefaultWidth = 1100;
    static constexpr int kDefaultHeight = 440;
    static constexpr int kMinimumWidth = 640;
    static constexpr int kMinimumHeight = 360;

    DisplayLayout(int width, int height);

    // row, column and lamp all 1..8.
    PointF lampCentre(int row, int column, int lamp) const;
    double lampDiameter() const { return m_pitch * 0.78; }
    double pitch() const { return m_pitch; }

    RectF textCell(int index) const;       // 0..19
    RectF rowLabel(int row) const;         // 1..8
    RectF columnHeader(int column) const;  // 1..8, above the group
    RectF status() const;

private:
    double groupLeft(int column) const;

    int m_width;
    int m_height;
    double m_pitch = 0;      // lamp centre to lamp centre
    double m_lampsLeft = 0;  // x of the first lamp cell's left edge
    double m_lampsTop = 0;   // y of the first row's top edge
    double m_rowPitch = 0;
    double m_textTop = 0;
    double m_textCell = 0;
    double m_textLeft = 0;
};

}  // namespace lumora::display
