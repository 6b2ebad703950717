// The plane steps as the class's members: keystone by projection onto an
// inclined plane, rotation about the output centre, shear along x and the
// origin shifts. No public operation uses them.

#include <quarvel/quarvel.h>

#include "model/plane_steps.h"

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
    return quarvel::detail::KeystoneOnPlane(plane, p);
}

FPoint Quarvel::RotatePoint(const FPoint& p) const {
    return quarvel::detail::RotateAboutOutput(rotateAngle, outWidth, outHeight, p);
}

CvPoint Quarvel::Warp(const FPoint& p) const { return quarvel::detail::ShearToPixel(shearX, p); }

FPoint Quarvel::ScreenToDescartes(const CvPoint& p, const FPoint& origin) const {
    return quarvel::detail::ShiftFrom(p.x, p.y, origin);
}

FPoint Quarvel::ScreenToDescartes(const FPoint& p, const FPoint& origin) const {
    return quarvel::detail::ShiftFrom(p.x, p.y, origin);
}

FPoint Quarvel::DescartesToScreen(const FPoint& p, const FPoint& origin) const {
    return quarvel::detail::ShiftTo(p, origin);
}
