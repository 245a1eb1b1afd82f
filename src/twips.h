#pragma once

#include <QRect>

// The window is drawn to twips, 1440 to the inch, so 15 to a pixel at 96 dots per inch.
namespace Twips {

inline constexpr int perPixel = 15;

// Rounded to the nearest whole pixel; only a few sizes are not multiples of 15.
constexpr int toPixels(int twips)
{
    return (twips + perPixel / 2) / perPixel;
}

constexpr QRect toPixels(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

} // namespace Twips
