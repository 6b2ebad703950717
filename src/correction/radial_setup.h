#ifndef QUARVEL_SRC_CORRECTION_RADIAL_SETUP_H
#define QUARVEL_SRC_CORRECTION_RADIAL_SETUP_H

#include <quarvel/quarvel.h>

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
    DisplayInfo displayInfo;  // the same with where it came from (Fitted only)
    OutputGeometry geometry;
};

// Barrel magnification of a point at squared radius s from the centre for
// focal value f: t = s / (2f), k = f / (f - 2t), i.e. f^2 / (f^2 - s).
float BarrelFactor(float f, float s) noexcept;

// Sizes the fully corrected image for corner factor k about the source
// centre and shrinks it to fit the display when it is larger.
OutputGeometry FitToDisplay(float centerX, float centerY, float k, DisplaySize display) noexcept;

// Terms of the sphere model for offsets (a, b) from the centre:
// q = (f^2 - a^2) - b^2, l = sqrt(q), m = f - l, k = f / (f - m), i.e.
// k = f / sqrt(f^2 - a^2 - b^2). q < 0 has no real root and gives NaN.
struct SphereTerms {
    float radicand;  // q
    float factor;    // k
};
SphereTerms SphereFactor(float f, float a, float b) noexcept;

// Places a source offset (dx, dy), magnified by k and the display-fit
// scale, about the output centre: the last step of both radial mappings.
FPoint PlaceAboutOutputCentre(float k, float dx, float dy, float scale, float outCenterX, float outCenterY) noexcept;

// The barrel mapping of a camera position: (x, y) itself when the focal
// value counts as zero; else the offset from the centre rounded to float,
// magnified by the barrel factor of its squared radius and placed about
// the output centre. Integer positions give exactly CorrectBarrelPoint.
FPoint BarrelMapping(double x, double y, float focal, float centerX, float centerY, float scale, float outCenterX,
                     float outCenterY) noexcept;

// The projective step's three named quantities for an output-image point:
// w = (m20 x + m21 y) + m22, X and Y likewise, each rounded to float. The
// quotients X / w and Y / w are the caller's.
struct ProjectiveTerms {
    float w;
    float x;
    float y;
};
ProjectiveTerms ProjectiveStep(const cv::Matx33f& m, const FPoint& p) noexcept;

// The barrel model's set-up. The display is asked (through QueryDisplay)
// only when the geometry is fitted, and only when the host has not fixed
// its size (`hostDisplay` non-null: that size is used instead).
RadialSetup ComputeBarrelSetup(int imageWidth, int imageHeight, float focalZ,
                               const DisplaySize* hostDisplay = nullptr) noexcept;

// The sphere model's set-up: stops, like the barrel set-up, where the
// corner radius has no real root (q < 0 or NaN); fits otherwise.
RadialSetup ComputeBallSetup(int imageWidth, int imageHeight, float focalZ,
                             const DisplaySize* hostDisplay = nullptr) noexcept;

}  // namespace quarvel::detail

#endif
