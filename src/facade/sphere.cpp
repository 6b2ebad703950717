// The sphere model as the class's members: an alternative radial
// correction that magnifies a point at radius r by f / sqrt(f^2 - r^2). No
// public operation uses it.

#include <quarvel/quarvel.h>

#include "facade/facade_state.h"
#include "facade/points.h"
#include "model/plane_steps.h"
#include "model/setup.h"

void Quarvel::ComputeBallParam() {
    quarvel::DisplayInfo display;
    if (quarvel::detail::SphereSetupFits(imageWidth, imageHeight, focalZ)) {
        display = DisplayForSetUp();
    }
    StoreGeometry(quarvel::detail::SetUpSphere(imageWidth, imageHeight, focalZ, cv::Size(display.width, display.height),
                                               StoredGeometry()));
    if (state) {
        state->previews->Clear();
    }
}

FPoint Quarvel::CorrectBallPoint(const CvPoint& p) const {
    return quarvel::detail::ToFPoint(
        quarvel::detail::SphereMapping(quarvel::detail::ChainOf(focalZ, StoredGeometry(), keyStoneMat), p));
}
