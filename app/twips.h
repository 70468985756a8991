// Twips: 1/1440 inch. The window is designed at 96 dpi, 15 twips to a
// logical pixel; Qt's high-DPI scaling maps logical pixels to the screen.
#pragma once

#include <QRect>
#include <QRectF>

namespace lumora {

inline constexpr double kTwipsPerPixel = 15.0;

inline constexpr double twipsToPixels(double twips)
{
    return twips / kTwipsPerPixel;
}

// For widget geometry; every position of the design is a multiple of 15.
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

}  // namespace lumora
