#include "model/setup.h"

#include <cmath>

#include "model/chain.h"
#include "numeric/arithmetic.h"
#include "model/zero_test.h"

namespace quarvel::detail {
namespace {

// 0.05 as the single-precision constant the fit subtracts.
constexpr double kFitMargin = static_cast<double>(0.05f);

float CentreOf(int size) noexcept { return ToFloat(size * 0.5); }

// The focal value counts as zero: the output is the source geometry, and
// the scale stays what it was.
Geometry Uncorrected(int imageWidth, int imageHeight, const Geometry& previous) noexcept {
    Geometry g;
    g.outcome = Geometry::Outcome::Uncorrected;
    g.centerX = CentreOf(imageWidth);
    g.centerY = CentreOf(imageHeight);
    g.scale = previous.scale;
    g.outWidth = imageWidth;
    g.outHeight = imageHeight;
    g.outCenterX = ToFloat(imageWidth * 0.5);
    g.outCenterY = ToFloat(imageHeight * 0.5);
    return g;
}

// Nothing can be fitted: only the source centre is new.
Geometry Stopped(int imageWidth, int imageHeight, float k, const Geometry& previous) noexcept {
    Geometry g = previous;
    g.outcome = Geometry::Outcome::Stopped;
    g.centerX = CentreOf(imageWidth);
    g.centerY = CentreOf(imageHeight);
    g.cornerFactor = k;
    return g;
}

Geometry Fitted(int imageWidth, int imageHeight, float k, cv::Size display) noexcept {
    Geometry g;
    g.outcome = Geometry::Outcome::Fitted;
    g.centerX = CentreOf(imageWidth);
    g.centerY = CentreOf(imageHeight);
    g.cornerFactor = k;
    const OutputGeometry out = FitToDisplay(g.centerX, g.centerY, k, display);
    g.scale = out.scale;
    g.outWidth = out.outWidth;
    g.outHeight = out.outHeight;
    g.outCenterX = out.outCenterX;
    g.outCenterY = out.outCenterY;
    return g;
}

// Magnification at the corners, from the squared half-diagonal.
float BarrelCornerFactor(int imageWidth, int imageHeight, float focalZ) noexcept {
    const float centerX = CentreOf(imageWidth);
    const float centerY = CentreOf(imageHeight);
    return BarrelFactor(focalZ, ToFloat(static_cast<double>(Sq(centerX)) + Sq(centerY)));
}

}  // namespace

SphereTerms SphereFactor(float f, float a, float b) noexcept {
    SphereTerms terms{};
    terms.radicand = ToFloat((static_cast<double>(Sq(f)) - Sq(a)) - Sq(b));
    const float l = ToFloat(std::sqrt(static_cast<double>(terms.radicand)));
    const float m = ToFloat(static_cast<double>(f) - l);
    terms.factor = ToFloat(f / (static_cast<double>(f) - m));
    return terms;
}

OutputGeometry FitToDisplay(float centerX, float centerY, float k, cv::Size display) noexcept {
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

bool BarrelSetupFits(int imageWidth, int imageHeight, float focalZ) noexcept {
    // Below 1 (f^2 < s makes k negative) nothing can be fitted; NaN goes on.
    return !IsZeroParam(focalZ) && !(BarrelCornerFactor(imageWidth, imageHeight, focalZ) < 1.0f);
}

bool SphereSetupFits(int imageWidth, int imageHeight, float focalZ) noexcept {
    // A focal value shorter than the half-diagonal has no real root.
    return !IsZeroParam(focalZ) &&
           SphereFactor(focalZ, CentreOf(imageWidth), CentreOf(imageHeight)).radicand >= 0.0f;
}

Geometry SetUpSphere(int imageWidth, int imageHeight, float focalZ, cv::Size display, const Geometry& previous) noexcept {
    if (IsZeroParam(focalZ)) {
        return Uncorrected(imageWidth, imageHeight, previous);
    }
    const SphereTerms corner = SphereFactor(focalZ, CentreOf(imageWidth), CentreOf(imageHeight));
    return corner.radicand >= 0.0f ? Fitted(imageWidth, imageHeight, corner.factor, display)
                                   : Stopped(imageWidth, imageHeight, corner.factor, previous);
}

}  // namespace quarvel::detail

namespace quarvel {

Geometry SetUpBarrel(int imageWidth, int imageHeight, float focalZ, cv::Size display, const Geometry& previous) {
    if (detail::IsZeroParam(focalZ)) {
        return detail::Uncorrected(imageWidth, imageHeight, previous);
    }
    const float k = detail::BarrelCornerFactor(imageWidth, imageHeight, focalZ);
    return k < 1.0f ? detail::Stopped(imageWidth, imageHeight, k, previous)
                    : detail::Fitted(imageWidth, imageHeight, k, display);
}

}  // namespace quarvel
