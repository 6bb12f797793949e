#include "controls/twips.h"

#include <cmath>

#include "foundation/component_error.h"

namespace kt {

float twipsPerPixel(int dotsPerInch) {
    return dotsPerInch > 0 ? kTwipsPerInch / static_cast<float>(dotsPerInch) : 15.0f;
}

int twipsToPixels(float twips, float twipsPerPixel) {
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

float pixelsToTwips(int pixels, float twipsPerPixel) {
    return static_cast<float>(pixels) * twipsPerPixel;
}

short roundToShortTwips(float twips) {
    const float rounded = std::nearbyint(twips);
    if (!(rounded >= -32768.0f && rounded <= 32767.0f)) throw overflowError();
    return static_cast<short>(rounded);
}

}  // namespace kt
