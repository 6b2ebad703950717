// Further correction steps on the output image: keystone by projection onto
// an inclined plane, rotation about the output centre and shear along x.
// Each is switched off when its parameter counts as zero.

#include <quarvel/quarvel.h>

#include <cmath>

#include "correction/numeric.h"

using quarvel::detail::ToFloat;
using quarvel::detail::Trunc;

FPoint Quarvel::CorrectKeyStonePoint(const FPoint& p) const {
    // The normal list holds a multiple of three entries once loaded; only
    // the first normal is used.
    if (planeNormal.size() < 3 || IsZero(mapTop)) {
        return p;
    }
    const double nx = planeNormal[0];
    const double ny = planeNormal[1];
    const double nz = planeNormal[2];
    const float dx = ToFloat(static_cast<double>(p.x) - keyStoneOriginX);
    const float dy = ToFloat(static_cast<double>(p.y) - keyStoneOriginY);
    const float mid = ToFloat((static_cast<double>(mapBottom) + mapTop) * 0.5);
    const float num = ToFloat((static_cast<double>(mid) - mapTop) * nz);
    const float den = ToFloat((nx * dx + ny * dy) - nz * mapTop);
    // The line from the origin through (dx, dy, -mapTop) meets the plane at
    // parameter h; a zero den gives an IEEE infinity or NaN.
    const float h = ToFloat(static_cast<double>(num) / den);
    return FPoint{ToFloat(static_cast<double>(ToFloat(static_cast<double>(h) * dx)) + keyStoneOriginX),
                  ToFloat(static_cast<double>(keyStoneOriginY) + ToFloat(static_cast<double>(h) * dy))};
}

FPoint Quarvel::RotatePoint(const FPoint& p) const {
    if (IsZero(rotateAngle)) {
        return p;
    }
    // The calibration's own value of pi, not the full-precision one.
    const double rad = rotateAngle * 3.1415926 / 180;
    const double c = std::cos(rad);
    const double s = std::sin(rad);
    // The centre comes from the integer output size.
    const float hx = ToFloat(outWidth * 0.5);
    const float hy = ToFloat(outHeight * 0.5);
    const float ddx = ToFloat(static_cast<double>(p.x) - hx);
    const float ddy = ToFloat(static_cast<double>(p.y) - hy);
    return FPoint{ToFloat(static_cast<double>(hx) + ToFloat(c * ddx - s * ddy)),
                  ToFloat(static_cast<double>(hy) + ToFloat(s * ddx + c * ddy))};
}

CvPoint Quarvel::Warp(const FPoint& p) const {
    CvPoint out;
    // Plain truncation here: no 0.5 is added.
    if (IsZero(shearX)) {
        out.x = Trunc(p.x);
        out.y = Trunc(p.y);
        return out;
    }
    // Shear matrix rows (1, shearX) and (0, 1).
    out.x = Trunc(static_cast<double>(p.y) * shearX + p.x);
    out.y = Trunc(0.0 * p.x + p.y);
    return out;
}
