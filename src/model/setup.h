#ifndef QUARVEL_SRC_MODEL_SETUP_H
#define QUARVEL_SRC_MODEL_SETUP_H

// The radial set-ups: from the image size, the focal value and the display
// size to the geometry of the corrected image. Pure functions; whoever
// needs a display size asks for it first and hands it in.

#include <quarvel/model.h>

namespace quarvel::detail {

// Size, centre and scale of the corrected (output) image for corner factor
// k about the source centre, shrunk to fit the display when it is larger.
struct OutputGeometry {
    float scale;
    int outWidth;
    int outHeight;
    float outCenterX;
    float outCenterY;
};
OutputGeometry FitToDisplay(float centerX, float centerY, float k, cv::Size display) noexcept;

// Whether the barrel set-up of this image and focal value fits the
// corrected image to a display at all (it does unless the focal value
// counts as zero or the corner factor is below 1): only then is the
// display size needed.
bool BarrelSetupFits(int imageWidth, int imageHeight, float focalZ) noexcept;

// Terms of the sphere model for offsets (a, b) from the centre:
// q = (f^2 - a^2) - b^2, l = sqrt(q), m = f - l, k = f / (f - m), i.e.
// k = f / sqrt(f^2 - a^2 - b^2). q < 0 has no real root and gives NaN.
struct SphereTerms {
    float radicand;  // q
    float factor;    // k
};
SphereTerms SphereFactor(float f, float a, float b) noexcept;

// The sphere model's set-up: as the barrel's, with the sphere's corner
// factor; it stops, like the barrel set-up, where the corner radius has no
// real root (q < 0 or NaN), and fits otherwise.
Geometry SetUpSphere(int imageWidth, int imageHeight, float focalZ, cv::Size display, const Geometry& previous) noexcept;
bool SphereSetupFits(int imageWidth, int imageHeight, float focalZ) noexcept;

}  // namespace quarvel::detail

#endif
