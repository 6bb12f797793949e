#include "compose/layout.h"

namespace kt {

FrameMetrics frameMetrics(int captionPixels, int frameWidthPixels, int frameHeightPixels, float twipsPerPixelX,
                          float twipsPerPixelY) {
    return {roundToShortTwips(static_cast<float>(captionPixels) * twipsPerPixelY),
            roundToShortTwips(static_cast<float>(frameWidthPixels) * twipsPerPixelX),
            roundToShortTwips(static_cast<float>(frameHeightPixels) * twipsPerPixelY)};
}

EmailFormLayout layoutEmailForm(float outerWidth, float outerHeight, const FrameMetrics& metrics,
                                const EmailFormGeometry& geometry) {
    const float f = metrics.frameWidth;
    const float g = metrics.frameHeight;
    const float c = metrics.caption;
    EmailFormLayout layout{};
    // Fields that end at W - 4f keep a margin of two frame widths inside the
    // client area; the body and the information label reach its edge.
    layout.tbToWidth = outerWidth - geometry.tbTo.left - 4 * f;
    layout.tbSubjectWidth = outerWidth - geometry.tbSubject.left - 4 * f;
    layout.tbBodyWidth = outerWidth - geometry.tbBody.left - 2 * f;
    layout.lbInfoWidth = outerWidth - geometry.lbInfo.left - 2 * f;
    layout.label1Width = outerWidth - geometry.label1.left - 4 * f;
    layout.label11Width = outerWidth - geometry.label11.left - 4 * f;
    layout.sendLeft = outerWidth - 4 * f - geometry.send.width;
    layout.cancelLeft = layout.sendLeft - geometry.cancel.width - 4 * f;
    layout.buttonTop = outerHeight - c - geometry.send.height - 4 * g;
    layout.tbBodyHeight = layout.buttonTop - geometry.tbBody.top - 4 * g;
    return layout;
}

}  // namespace kt
