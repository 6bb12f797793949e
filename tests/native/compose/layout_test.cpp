#include "compose/layout.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

const EmailFormGeometry kDesign{
    {600, 240, 4452, 288},   // tbTo
    {960, 1800, 4092, 288},  // tbSubject
    {120, 2760, 4932, 1692}, // tbBody
    {120, 2280, 4932, 492},  // lbInfo
    {120, 1248, 5052, 204},  // Label1
    {120, 1452, 5052, 240},  // Label11
    {4200, 4440, 852, 372},  // KT_CB_Send
    {3120, 4440, 852, 372},  // KT_CB_Cancel
};

}  // namespace

TEST(EmailFormLayout, WorkedExampleAtTheMinimumSize) {
    const FrameMetrics metrics = frameMetrics(19, 4, 4, 15, 15);
    EXPECT_EQ(metrics.caption, 285);
    EXPECT_EQ(metrics.frameWidth, 60);
    EXPECT_EQ(metrics.frameHeight, 60);

    const EmailFormLayout layout = layoutEmailForm(5268, 5628, metrics, kDesign);
    EXPECT_EQ(layout.tbToWidth, 4428);
    EXPECT_EQ(layout.tbSubjectWidth, 4068);
    EXPECT_EQ(layout.tbBodyWidth, 5028);
    EXPECT_EQ(layout.lbInfoWidth, 5028);
    EXPECT_EQ(layout.label1Width, 4908);
    EXPECT_EQ(layout.label11Width, 4908);
    EXPECT_EQ(layout.sendLeft, 4176);
    EXPECT_EQ(layout.cancelLeft, 3084);
    EXPECT_EQ(layout.buttonTop, 4731);
    EXPECT_EQ(layout.tbBodyHeight, 1731);
}

TEST(EmailFormLayout, GrowsWithTheWindowAndFollowsTheMetrics) {
    const FrameMetrics metrics = frameMetrics(23, 8, 8, 12, 12);  // a 120 DPI screen with wider frames
    EXPECT_EQ(metrics.caption, 276);
    EXPECT_EQ(metrics.frameWidth, 96);
    const EmailFormLayout layout = layoutEmailForm(9000, 8000, metrics, kDesign);
    EXPECT_EQ(layout.tbToWidth, 9000 - 600 - 4 * 96);
    EXPECT_EQ(layout.sendLeft + kDesign.send.width, 9000 - 4 * 96);
    EXPECT_EQ(layout.cancelLeft + kDesign.cancel.width, layout.sendLeft - 4 * 96);
    EXPECT_EQ(layout.buttonTop, 8000 - 276 - 372 - 4 * 96);
    EXPECT_EQ(layout.tbBodyHeight, layout.buttonTop - 2760 - 4 * 96);
}

}  // namespace kt
