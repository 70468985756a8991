// SPDX-License-Identifier: GPL-3.0-or-later
// Twips: 1/1440 inch. The window is designed at 96 dpi, 15 twips to a
// logical pixel; Qt's high-DPI scaling maps logical pixels to the screen.
#pragma once

#include <QRect>
#include <QRectF>

namespace lumora {

inline constexpr int kTwipsPerPixel = 15;

inline constexpr double twipsToPixels(double twips)
{
    return twips / static_cast<double>(kTwipsPerPixel);
}

// For widget geometry; every position of the design is a whole number of pixels.
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

}  // namespace lumora
