// The composition window's layout on a screen where the frame's width and
// height, the horizontal and vertical twips per pixel and the window's width
// and height all differ, so that no horizontal value can stand in for a
// vertical one; a real window (tests/windows) has square pixels and frames.

#include "compose/layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace kt {
namespace {

const EmailFormGeometry kDesign{
    {600, 240, 4452, 288},    // tbTo
    {960, 1800, 4092, 288},   // tbSubject
    {120, 2760, 4932, 1692},  // tbBody
    {120, 2280, 4932, 492},   // lbInfo
    {120, 1248, 5052, 204},   // Label1
    {120, 1452, 5052, 240},   // Label11
    {4200, 4440, 852, 372},   // KT_CB_Send
    {3120, 4440, 852, 372},   // KT_CB_Cancel
};

std::vector<float> placed(const EmailFormLayout& l) {
    return {l.tbToWidth,    l.tbSubjectWidth, l.tbBodyWidth, l.lbInfoWidth, l.label1Width,
            l.label11Width, l.sendLeft,       l.cancelLeft,  l.buttonTop,   l.tbBodyHeight};
}

}  // namespace

TEST(EmailFormLayout, FieldsStretchAndTheButtonRowFollowsTheFrame) {
    // A frame wider than high (22 pixel caption, borders 5 by 3), more twips per pixel vertically (12 by 18).
    const FrameMetrics metrics = frameMetrics(22, 5, 3, 12, 18);
    EXPECT_EQ(metrics.caption, 396);
    EXPECT_EQ(metrics.frameWidth, 60);
    EXPECT_EQ(metrics.frameHeight, 54);
    // In a window wider than high: widths of tbTo, tbSubject, tbBody, lbInfo, Label1, Label11; Send and
    // Cancel left; the button row's top; tbBody's height.
    EXPECT_EQ(placed(layoutEmailForm(9000, 8000, metrics, kDesign)),
              (std::vector<float>{8160, 7800, 8760, 8760, 8640, 8640, 7908, 6816, 7016, 4040}));
}

}  // namespace kt
