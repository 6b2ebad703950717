#ifndef QUARVEL_SRC_CORRECTION_RADIAL_SETUP_H
#define QUARVEL_SRC_CORRECTION_RADIAL_SETUP_H

#include "platform/display_size.h"

namespace quarvel::detail {

// Size, centre and scale of the corrected (output) image.
struct OutputGeometry {
    float scale;
    int outWidth;
    int outHeight;
    float outCenterX;
    float outCenterY;
};

// What a radial set-up derived from the image size and the focal value.
struct RadialSetup {
    enum class Outcome {
        Uncorrected,  // focal value counts as zero: output = source geometry, scale kept
        Stopped,      // no usable corner factor: only the source centre is stored
        Fitted,       // geometry fitted to the display
    };
    Outcome outcome;
    float centerX;       // source centre, stored on every outcome
    float centerY;
    float cornerFactor;  // magnification at the image corners (Stopped, Fitted)
    DisplaySize display; // the display size asked (Fitted only)
    OutputGeometry geometry;
};

// Barrel magnification of a point at squared radius s from the centre for
// focal value f: t = s / (2f), k = f / (f - 2t), i.e. f^2 / (f^2 - s).
float BarrelFactor(float f, float s) noexcept;

// Sizes the fully corrected image for corner factor k about the source
// centre and shrinks it to fit the display when it is larger.
OutputGeometry FitToDisplay(float centerX, float centerY, float k, DisplaySize display) noexcept;

// The barrel model's set-up. The display is asked (through
// QueryDisplaySize) only when the geometry is fitted.
RadialSetup ComputeBarrelSetup(int imageWidth, int imageHeight, float focalZ) noexcept;

}  // namespace quarvel::detail

#endif
