// From a display position back to the camera image: the inverse of the
// projective step, then of the barrel mapping.

#include <cmath>
#include <limits>

#include "model/chain.h"
#include "model/lens_map.h"
#include "model/zero_test.h"

namespace quarvel::detail {

cv::Point2d Invert(const Chain& chain, const cv::Point2d& display) noexcept {
    if (chain.lens != nullptr) {
        return chain.lens->Invert(display);
    }
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const cv::Point2d none(kNaN, kNaN);
    const double X = display.x;
    const double Y = display.y;
    if (!std::isfinite(X) || !std::isfinite(Y)) {
        return none;
    }
    // (m00 x + m01 y + m02) / w = X and (m10 x + m11 y + m12) / w = Y with
    // w = m20 x + m21 y + m22: two linear equations in the output-image
    // point (x, y).
    const cv::Matx33f& m = chain.matrix;
    const double a = m(0, 0) - X * m(2, 0);
    const double b = m(0, 1) - X * m(2, 1);
    const double c = X * m(2, 2) - m(0, 2);
    const double d = m(1, 0) - Y * m(2, 0);
    const double e = m(1, 1) - Y * m(2, 1);
    const double g = Y * m(2, 2) - m(1, 2);
    const double det = a * e - b * d;
    if (!(std::abs(det) > 0.0)) {
        return none;
    }
    const double x = (c * e - b * g) / det;
    const double y = (a * g - c * d) / det;
    const double w = m(2, 0) * x + m(2, 1) * y + m(2, 2);
    if (!(w > 0.0) || !std::isfinite(x) || !std::isfinite(y)) {
        return none;
    }
    if (IsZeroParam(chain.focal)) {
        return cv::Point2d(x, y);  // no barrel step: output = source coordinates
    }
    // The barrel mapping places an offset of radius r at rho = scale k r
    // with k = f^2 / (f^2 - r^2): rho r^2 + scale f^2 r - rho f^2 = 0. Its
    // root below |f| (inside the singular radius), in the form that does
    // not cancel for small rho.
    const double ox = x - chain.outCenterX;
    const double oy = y - chain.outCenterY;
    const double rho = std::hypot(ox, oy);
    const double f2 = static_cast<double>(chain.focal) * chain.focal;
    const double sf2 = static_cast<double>(chain.scale) * f2;
    if (!(sf2 > 0.0) || !std::isfinite(sf2)) {
        return none;
    }
    // The offset shrinks by r / rho = 2 f^2 / (scale f^2 + sqrt(...)).
    const double shrink = 2.0 * f2 / (sf2 + std::sqrt(sf2 * sf2 + 4.0 * rho * rho * f2));
    const double sx = chain.centerX + ox * shrink;
    const double sy = chain.centerY + oy * shrink;
    if (!std::isfinite(sx) || !std::isfinite(sy)) {
        return none;
    }
    return cv::Point2d(sx, sy);
}

}  // namespace quarvel::detail
