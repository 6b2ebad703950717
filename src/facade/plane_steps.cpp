// The plane steps as the class's members: keystone by projection onto an
// inclined plane, rotation about the output centre, shear along x and the
// origin shifts. No public operation uses them.

#include <quarvel/quarvel.h>

#include "facade/points.h"
#include "model/plane_steps.h"

using quarvel::detail::FromFPoint;
using quarvel::detail::ToFPoint;

FPoint Quarvel::CorrectKeyStonePoint(const FPoint& p) const {
    // The normal list holds a multiple of three entries once loaded; only
    // the first normal is used.
    const bool hasNormal = planeNormal.size() >= 3;
    const quarvel::detail::KeystonePlane plane{mapTop,
                                               mapBottom,
                                               keyStoneOriginX,
                                               keyStoneOriginY,
                                               hasNormal,
                                               hasNormal ? planeNormal[0] : 0.0f,
                                               hasNormal ? planeNormal[1] : 0.0f,
                                               hasNormal ? planeNormal[2] : 0.0f};
    return ToFPoint(quarvel::detail::KeystoneOnPlane(plane, FromFPoint(p)));
}

FPoint Quarvel::RotatePoint(const FPoint& p) const {
    return ToFPoint(quarvel::detail::RotateAboutOutput(rotateAngle, outWidth, outHeight, FromFPoint(p)));
}

CvPoint Quarvel::Warp(const FPoint& p) const { return quarvel::detail::ShearToPixel(shearX, FromFPoint(p)); }

FPoint Quarvel::ScreenToDescartes(const CvPoint& p, const FPoint& origin) const {
    return ToFPoint(quarvel::detail::ShiftFrom(p.x, p.y, FromFPoint(origin)));
}

FPoint Quarvel::ScreenToDescartes(const FPoint& p, const FPoint& origin) const {
    return ToFPoint(quarvel::detail::ShiftFrom(p.x, p.y, FromFPoint(origin)));
}

FPoint Quarvel::DescartesToScreen(const FPoint& p, const FPoint& origin) const {
    return ToFPoint(quarvel::detail::ShiftTo(FromFPoint(p), FromFPoint(origin)));
}
