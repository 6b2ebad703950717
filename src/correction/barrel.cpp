// The main correction chain: barrel undistortion about the source centre
// into the display-fitted output image, then the projective matrix.

#include <quarvel/quarvel.h>

#include "correction/numeric.h"
#include "correction/radial_setup.h"
#include "preview/paint_cache.h"

using quarvel::detail::ToFloat;

void Quarvel::ComputeBarrelParam() { SetUpBarrel(); }

quarvel::detail::RadialSetup Quarvel::SetUpBarrel() {
    const quarvel::detail::DisplaySize host{hostDisplayWidth, hostDisplayHeight};
    const quarvel::detail::RadialSetup setup = quarvel::detail::ComputeBarrelSetup(
        imageWidth, imageHeight, focalZ, hostDisplayWidth > 0 && hostDisplayHeight > 0 ? &host : nullptr);
    StoreRadialSetup(setup);
    return setup;
}

void Quarvel::StoreRadialSetup(const quarvel::detail::RadialSetup& setup) {
    // Every load ends here: a preview cached for the earlier calibration
    // is dropped.
    if (paintCache.get() != nullptr) {
        paintCache.get()->Clear();
    }
    centerX = setup.centerX;
    centerY = setup.centerY;
    using Outcome = quarvel::detail::RadialSetup::Outcome;
    if (setup.outcome == Outcome::Stopped) {
        return;  // the output geometry keeps its earlier values
    }
    if (setup.outcome == Outcome::Fitted) {
        scale = setup.geometry.scale;
    }
    outWidth = setup.geometry.outWidth;
    outHeight = setup.geometry.outHeight;
    outCenterX = setup.geometry.outCenterX;
    outCenterY = setup.geometry.outCenterY;
}

FPoint Quarvel::CorrectBarrelPoint(const CvPoint& p) const {
    if (IsZero(focalZ)) {
        return FPoint{static_cast<float>(p.x), static_cast<float>(p.y)};
    }
    const float dx = ToFloat(p.x - static_cast<double>(centerX));
    const float dy = ToFloat(p.y - static_cast<double>(centerY));
    const float s = ToFloat(static_cast<double>(quarvel::detail::Sq(dx)) + quarvel::detail::Sq(dy));
    const float k = quarvel::detail::BarrelFactor(focalZ, s);
    return quarvel::detail::PlaceAboutOutputCentre(k, dx, dy, scale, outCenterX, outCenterY);
}

CvPoint Quarvel::CorrectKeyStonePointByMat(const FPoint& p) const {
    const cv::Matx33f& m = keyStoneMat;
    const double x = p.x;
    const double y = p.y;
    const float w = ToFloat((m(2, 0) * x + m(2, 1) * y) + m(2, 2));
    const float tx = ToFloat((m(0, 0) * x + m(0, 1) * y) + m(0, 2));
    const float ty = ToFloat((m(1, 0) * x + m(1, 1) * y) + m(1, 2));
    CvPoint out;
    out.x = quarvel::detail::TruncPlusHalf(static_cast<double>(tx) / w);
    out.y = quarvel::detail::TruncPlusHalf(static_cast<double>(ty) / w);
    return out;
}

CvPoint Quarvel::CorrectPoint(const CvPoint& p) const { return CorrectKeyStonePointByMat(CorrectBarrelPoint(p)); }
