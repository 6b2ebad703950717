#include "correction/radial_setup.h"

#include <cmath>

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

RadialSetup Stopped(float centerX, float centerY, float k) {
    RadialSetup setup{};
    setup.outcome = RadialSetup::Outcome::Stopped;
    setup.centerX = centerX;
    setup.centerY = centerY;
    setup.cornerFactor = k;
    return setup;
}

// The display is asked only here, when there is a geometry to fit.
RadialSetup Fitted(float centerX, float centerY, float k, const DisplaySize* hostDisplay) noexcept {
    RadialSetup setup{};
    setup.outcome = RadialSetup::Outcome::Fitted;
    setup.centerX = centerX;
    setup.centerY = centerY;
    setup.cornerFactor = k;
    if (hostDisplay != nullptr) {
        setup.displayInfo.width = hostDisplay->width;
        setup.displayInfo.height = hostDisplay->height;
        setup.displayInfo.source = DisplaySource::Host;
        setup.displayInfo.used = true;
    } else {
        setup.displayInfo = QueryDisplay();
    }
    setup.display = DisplaySize{setup.displayInfo.width, setup.displayInfo.height};
    setup.geometry = FitToDisplay(centerX, centerY, k, setup.display);
    return setup;
}

}  // namespace

float BarrelFactor(float f, float s) noexcept {
    const float t = ToFloat(s / (2.0 * f));
    return ToFloat(f / (f - 2.0 * t));
}

SphereTerms SphereFactor(float f, float a, float b) noexcept {
    SphereTerms terms{};
    terms.radicand = ToFloat((static_cast<double>(Sq(f)) - Sq(a)) - Sq(b));
    const float l = ToFloat(std::sqrt(static_cast<double>(terms.radicand)));
    const float m = ToFloat(static_cast<double>(f) - l);
    terms.factor = ToFloat(f / (static_cast<double>(f) - m));
    return terms;
}

FPoint PlaceAboutOutputCentre(float k, float dx, float dy, float scale, float outCenterX, float outCenterY) noexcept {
    const float offsetX = ToFloat(static_cast<double>(k) * dx * scale);
    const float offsetY = ToFloat(static_cast<double>(k) * dy * scale);
    return FPoint{ToFloat(static_cast<double>(outCenterX) + offsetX), ToFloat(static_cast<double>(outCenterY) + offsetY)};
}

FPoint BarrelMapping(double x, double y, float focal, float centerX, float centerY, float scale, float outCenterX,
                     float outCenterY) noexcept {
    if (IsZeroParam(focal)) {
        return FPoint{ToFloat(x), ToFloat(y)};
    }
    const float dx = ToFloat(x - static_cast<double>(centerX));
    const float dy = ToFloat(y - static_cast<double>(centerY));
    const float s = ToFloat(static_cast<double>(Sq(dx)) + Sq(dy));
    return PlaceAboutOutputCentre(BarrelFactor(focal, s), dx, dy, scale, outCenterX, outCenterY);
}

ProjectiveTerms ProjectiveStep(const cv::Matx33f& m, const FPoint& p) noexcept {
    const double x = p.x;
    const double y = p.y;
    return ProjectiveTerms{ToFloat((m(2, 0) * x + m(2, 1) * y) + m(2, 2)), ToFloat((m(0, 0) * x + m(0, 1) * y) + m(0, 2)),
                           ToFloat((m(1, 0) * x + m(1, 1) * y) + m(1, 2))};
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

RadialSetup ComputeBarrelSetup(int imageWidth, int imageHeight, float focalZ, const DisplaySize* hostDisplay) noexcept {
    const float centerX = ToFloat(imageWidth * 0.5);
    const float centerY = ToFloat(imageHeight * 0.5);
    if (IsZeroParam(focalZ)) {
        return Uncorrected(imageWidth, imageHeight, centerX, centerY);
    }
    // Magnification at the corners, from the squared half-diagonal.
    const float k = BarrelFactor(focalZ, ToFloat(static_cast<double>(Sq(centerX)) + Sq(centerY)));
    // Below 1 (f^2 < s makes k negative) nothing can be fitted. NaN goes on.
    return k < 1.0f ? Stopped(centerX, centerY, k) : Fitted(centerX, centerY, k, hostDisplay);
}

RadialSetup ComputeBallSetup(int imageWidth, int imageHeight, float focalZ, const DisplaySize* hostDisplay) noexcept {
    const float centerX = ToFloat(imageWidth * 0.5);
    const float centerY = ToFloat(imageHeight * 0.5);
    if (IsZeroParam(focalZ)) {
        return Uncorrected(imageWidth, imageHeight, centerX, centerY);
    }
    const SphereTerms corner = SphereFactor(focalZ, centerX, centerY);
    // A focal value shorter than the half-diagonal has no real root.
    const bool realRoot = corner.radicand >= 0.0f;
    return realRoot ? Fitted(centerX, centerY, corner.factor, hostDisplay) : Stopped(centerX, centerY, corner.factor);
}

}  // namespace quarvel::detail
