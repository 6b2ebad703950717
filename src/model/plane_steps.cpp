#include "model/plane_steps.h"

#include <cmath>

#include "numeric/arithmetic.h"
#include "model/setup.h"
#include "model/zero_test.h"

namespace quarvel::detail {

FloatPoint SphereMapping(const Chain& c, const CvPoint& p) noexcept {
    if (IsZeroParam(c.focal)) {
        return FloatPoint{static_cast<float>(p.x), static_cast<float>(p.y)};
    }
    const float dx = ToFloat(p.x - static_cast<double>(c.centerX));
    const float dy = ToFloat(p.y - static_cast<double>(c.centerY));
    // Beyond the focal radius (q < 0) k is NaN and so is the result.
    const float k = SphereFactor(c.focal, dx, dy).factor;
    return PlaceAboutOutputCentre(k, dx, dy, c.scale, c.outCenterX, c.outCenterY);
}

FloatPoint KeystoneOnPlane(const KeystonePlane& k, const FloatPoint& p) noexcept {
    if (!k.hasNormal || IsZeroParam(k.mapTop)) {
        return p;
    }
    const double nx = k.nx;
    const double ny = k.ny;
    const double nz = k.nz;
    const float dx = ToFloat(static_cast<double>(p.x) - k.originX);
    const float dy = ToFloat(static_cast<double>(p.y) - k.originY);
    const float mid = ToFloat((static_cast<double>(k.mapBottom) + k.mapTop) * 0.5);
    const float num = ToFloat((static_cast<double>(mid) - k.mapTop) * nz);
    const float den = ToFloat((nx * dx + ny * dy) - nz * k.mapTop);
    // The line from the origin through (dx, dy, -mapTop) meets the plane at
    // parameter h; a zero den gives an IEEE infinity or NaN.
    const float h = ToFloat(static_cast<double>(num) / den);
    return FloatPoint{ToFloat(static_cast<double>(ToFloat(static_cast<double>(h) * dx)) + k.originX),
                  ToFloat(static_cast<double>(k.originY) + ToFloat(static_cast<double>(h) * dy))};
}

FloatPoint RotateAboutOutput(float degrees, int outWidth, int outHeight, const FloatPoint& p) noexcept {
    if (IsZeroParam(degrees)) {
        return p;
    }
    // The calibration's own value of pi, not the full-precision one.
    const double rad = degrees * 3.1415926 / 180;
    const double c = std::cos(rad);
    const double s = std::sin(rad);
    // The centre comes from the integer output size.
    const float hx = ToFloat(outWidth * 0.5);
    const float hy = ToFloat(outHeight * 0.5);
    const float ddx = ToFloat(static_cast<double>(p.x) - hx);
    const float ddy = ToFloat(static_cast<double>(p.y) - hy);
    return FloatPoint{ToFloat(static_cast<double>(hx) + ToFloat(c * ddx - s * ddy)),
                  ToFloat(static_cast<double>(hy) + ToFloat(s * ddx + c * ddy))};
}

CvPoint ShearToPixel(float shearX, const FloatPoint& p) noexcept {
    CvPoint out;
    // Plain truncation here: no 0.5 is added.
    if (IsZeroParam(shearX)) {
        out.x = Trunc(p.x);
        out.y = Trunc(p.y);
        return out;
    }
    // Shear matrix rows (1, shearX) and (0, 1).
    out.x = Trunc(static_cast<double>(p.y) * shearX + p.x);
    out.y = Trunc(0.0 * p.x + p.y);
    return out;
}

FloatPoint ShiftFrom(double x, double y, const FloatPoint& origin) noexcept {
    return FloatPoint{ToFloat(x - origin.x), ToFloat(y - origin.y)};
}

FloatPoint ShiftTo(const FloatPoint& p, const FloatPoint& origin) noexcept {
    return FloatPoint{ToFloat(static_cast<double>(p.x) + origin.x), ToFloat(static_cast<double>(p.y) + origin.y)};
}

}  // namespace quarvel::detail
