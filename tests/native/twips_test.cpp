#include "controls/twips.h"

#include <gtest/gtest.h>

#include "foundation/component_error.h"

namespace kt {

TEST(Twips, ConvertWithTheScreensResolution) {
    EXPECT_FLOAT_EQ(twipsPerPixel(96), 15.0f);
    EXPECT_FLOAT_EQ(twipsPerPixel(120), 12.0f);
    EXPECT_EQ(twipsToPixels(5172, 15), 345);  // 344.8
    EXPECT_EQ(twipsToPixels(4176, 15), 278);  // 278.4
    EXPECT_FLOAT_EQ(pixelsToTwips(351, 15), 5265.0f);
}

TEST(Twips, RoundToSixteenBitsOrOverflow) {
    EXPECT_EQ(roundToShortTwips(284.5f), 284);  // half to even, as the language rounds
    EXPECT_EQ(roundToShortTwips(285.5f), 286);
    EXPECT_EQ(roundToShortTwips(-32768.0f), -32768);
    try {
        roundToShortTwips(32767.6f);
        FAIL() << "no overflow";
    } catch (const ComponentError& error) {
        EXPECT_EQ(error.number(), 6);
    }
}

}  // namespace kt
