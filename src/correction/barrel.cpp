// The main correction chain: barrel undistortion about the source centre
// into the display-fitted output image, then the projective matrix.

#include <quarvel/quarvel.h>

#include "correction/numeric.h"
#include "correction/radial_setup.h"
#include "preview/paint_cache.h"


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
    return quarvel::detail::BarrelMapping(p.x, p.y, focalZ, centerX, centerY, scale, outCenterX, outCenterY);
}

CvPoint Quarvel::CorrectKeyStonePointByMat(const FPoint& p) const {
    const quarvel::detail::ProjectiveTerms t = quarvel::detail::ProjectiveStep(keyStoneMat, p);
    CvPoint out;
    out.x = quarvel::detail::TruncPlusHalf(static_cast<double>(t.x) / t.w);
    out.y = quarvel::detail::TruncPlusHalf(static_cast<double>(t.y) / t.w);
    return out;
}

CvPoint Quarvel::CorrectPoint(const CvPoint& p) const { return CorrectKeyStonePointByMat(CorrectBarrelPoint(p)); }
