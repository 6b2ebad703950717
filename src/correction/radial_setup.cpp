#include "correction/radial_setup.h"

#include "correction/numeric.h"
#include "record/zero_test.h"

namespace quarvel::detail {
namespace {

// 0.05 as the single-precision constant the fit subtracts.
constexpr double kFitMargin = static_cast<double>(0.05f);

RadialSetup Uncorrected(int imageWidth, int imageHeight, float centerX, float centerY) {
    RadialSetup setup{};
    setup.outcome = RadialSetup::Outcome::Uncorrected;
    setup.centerX = centerX;
    setup.centerY = centerY;
    setup.geometry.outWidth = imageWidth;
    setup.geometry.outHeight = imageHeight;
    setup.geometry.outCenterX = ToFloat(imageWidth * 0.5);
    setup.geometry.outCenterY = ToFloat(imageHeight * 0.5);
    return setup;
}

}  // namespace

float BarrelFactor(float f, float s) noexcept {
    const float t = ToFloat(s / (2.0 * f));
    return ToFloat(f / (f - 2.0 * t));
}

OutputGeometry FitToDisplay(float centerX, float centerY, float k, DisplaySize display) noexcept {
    const float a = ToFloat(static_cast<double>(centerX) * k);
    const float b = ToFloat(static_cast<double>(k) * centerY);
    const int w1 = TruncPlusHalf(2.0 * a);
    const int h1 = TruncPlusHalf(2.0 * b);

    OutputGeometry g{};
    if (w1 > display.width || h1 > display.height) {
        const float rx = ToFloat(static_cast<double>(display.width) / w1 - kFitMargin);
        const float ry = ToFloat(static_cast<double>(display.height) / h1 - kFitMargin);
        g.scale = rx < ry ? rx : ry;  // a tie or a NaN takes ry
    } else {
        g.scale = 1.0f;
    }
    g.outWidth = TruncPlusHalf(static_cast<double>(w1) * g.scale);
    g.outHeight = TruncPlusHalf(static_cast<double>(h1) * g.scale);
    g.outCenterX = ToFloat(g.outWidth * 0.5);
    g.outCenterY = ToFloat(g.outHeight * 0.5);
    return g;
}

RadialSetup ComputeBarrelSetup(int imageWidth, int imageHeight, float focalZ) noexcept {
    const float centerX = ToFloat(imageWidth * 0.5);
    const float centerY = ToFloat(imageHeight * 0.5);
    if (IsZeroParam(focalZ)) {
        return Uncorrected(imageWidth, imageHeight, centerX, centerY);
    }
    RadialSetup setup{};
    setup.centerX = centerX;
    setup.centerY = centerY;
    // Magnification at the corners, from the squared half-diagonal.
    setup.cornerFactor = BarrelFactor(focalZ, ToFloat(static_cast<double>(Sq(centerX)) + Sq(centerY)));
    // Below 1 (f^2 < s makes k negative) nothing can be fitted. NaN goes on.
    if (setup.cornerFactor < 1.0f) {
        setup.outcome = RadialSetup::Outcome::Stopped;
        return setup;
    }
    setup.outcome = RadialSetup::Outcome::Fitted;
    setup.display = QueryDisplaySize();
    setup.geometry = FitToDisplay(centerX, centerY, setup.cornerFactor, setup.display);
    return setup;
}

}  // namespace quarvel::detail
