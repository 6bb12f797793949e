#pragma once
// Geometry in twips (1/1440 inch), the unit in which both windows are designed,
// and its conversion to the screen's pixels.

namespace kt {

constexpr float kTwipsPerInch = 1440.0f;

struct TwipsRect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

// Twips per pixel of a screen with the given dots per inch (15 at 96 DPI).
float twipsPerPixel(int dotsPerInch);

// Nearest whole pixel for a twips value.
int twipsToPixels(float twips, float twipsPerPixel);

float pixelsToTwips(int pixels, float twipsPerPixel);

// Nearest whole number of twips, as a 16-bit value; throws the overflow error
// when the value does not fit.
short roundToShortTwips(float twips);

}  // namespace kt
