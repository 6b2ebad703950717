#ifndef QUARVEL_SRC_MODEL_PLANE_STEPS_H
#define QUARVEL_SRC_MODEL_PLANE_STEPS_H

// The correction steps the public chain does not compose: the sphere
// mapping, keystone by projection onto an inclined plane, rotation about
// the output centre, shear along x, and origin shifts. Each step with a
// parameter is switched off when it counts as zero.

#include <opencv2/core/types_c.h>

#include <quarvel/model.h>

#include "model/chain.h"

namespace quarvel::detail {

// The sphere model's mapping: magnification f / sqrt(f^2 - r^2) instead of
// the barrel's; (x, y) itself when the focal value counts as zero. Beyond
// the focal radius the result is NaN.
FloatPoint SphereMapping(const Chain& c, const CvPoint& p) noexcept;

// The keystone plane: mapping top and bottom points, the origin, and the
// first normal (absent: the step is off).
struct KeystonePlane {
    float mapTop;
    float mapBottom;
    float originX;
    float originY;
    bool hasNormal;
    float nx;
    float ny;
    float nz;
};
FloatPoint KeystoneOnPlane(const KeystonePlane& k, const FloatPoint& p) noexcept;

// Rotation by `degrees` (with the calibration's pi, 3.1415926) about the
// centre of the integer output size.
FloatPoint RotateAboutOutput(float degrees, int outWidth, int outHeight, const FloatPoint& p) noexcept;

// Shear along x by `shearX`, truncated to integers (no 0.5 added).
CvPoint ShearToPixel(float shearX, const FloatPoint& p) noexcept;

// (p - origin) and (p + origin) in single precision; no axis flips.
FloatPoint ShiftFrom(double x, double y, const FloatPoint& origin) noexcept;
FloatPoint ShiftTo(const FloatPoint& p, const FloatPoint& origin) noexcept;

}  // namespace quarvel::detail

#endif
