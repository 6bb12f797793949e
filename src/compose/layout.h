#pragma once
// The arithmetic of the composition window's layout: from its outer size, the
// system's caption and frame sizes and the design geometry, where the fields
// end and where the button row goes. All values in twips.

#include "controls/twips.h"

namespace kt {

constexpr float kEmailFormMinimumWidth = 5268;
constexpr float kEmailFormMinimumHeight = 5628;

// Caption height and sizing-border width and height, each in whole twips.
struct FrameMetrics {
    short caption = 0;
    short frameWidth = 0;
    short frameHeight = 0;
};

FrameMetrics frameMetrics(int captionPixels, int frameWidthPixels, int frameHeightPixels, float twipsPerPixelX,
                          float twipsPerPixelY);

// The design geometry the layout reads.
struct EmailFormGeometry {
    TwipsRect tbTo, tbSubject, tbBody, lbInfo, label1, label11, send, cancel;
};

struct EmailFormLayout {
    // Widths and horizontal positions.
    float tbToWidth;  // tbcc and tbBcc take it too
    float tbSubjectWidth;
    float tbBodyWidth;
    float lbInfoWidth;
    float label1Width;
    float label11Width;
    float sendLeft;
    float cancelLeft;
    // The button row (Send, Cancel and Help) and the body above it.
    float buttonTop;
    float tbBodyHeight;
};

EmailFormLayout layoutEmailForm(float outerWidth, float outerHeight, const FrameMetrics& metrics,
                                const EmailFormGeometry& geometry);

}  // namespace kt
