// The sphere model: an alternative radial correction that magnifies a point
// at radius r by f / sqrt(f^2 - r^2).

#include <quarvel/quarvel.h>

#include "correction/numeric.h"
#include "correction/radial_setup.h"

using quarvel::detail::ToFloat;

void Quarvel::ComputeBallParam() {
    const quarvel::detail::DisplaySize host{hostDisplayWidth, hostDisplayHeight};
    StoreRadialSetup(quarvel::detail::ComputeBallSetup(imageWidth, imageHeight, focalZ,
                                                       hostDisplayWidth > 0 && hostDisplayHeight > 0 ? &host : nullptr));
}

FPoint Quarvel::CorrectBallPoint(const CvPoint& p) const {
    if (IsZero(focalZ)) {
        return FPoint{static_cast<float>(p.x), static_cast<float>(p.y)};
    }
    const float dx = ToFloat(p.x - static_cast<double>(centerX));
    const float dy = ToFloat(p.y - static_cast<double>(centerY));
    // Beyond the focal radius (q < 0) k is NaN and so is the result.
    const float k = quarvel::detail::SphereFactor(focalZ, dx, dy).factor;
    return quarvel::detail::PlaceAboutOutputCentre(k, dx, dy, scale, outCenterX, outCenterY);
}
