// The chain with a real-valued input and an unrounded result.
//
// The projective step rounds X and Y to float before dividing by w. GCC
// 12's SLP vectorizer, packing the two quotients, can drop that rounding,
// so this file (like every correction source) is built with
// -fno-tree-slp-vectorize; the sub-pixel tests compare with values
// computed outside the library and would catch the fault.

#include <quarvel/quarvel.h>

#include "correction/numeric.h"
#include "correction/radial_setup.h"

using quarvel::detail::ToFloat;

cv::Point2d Quarvel::CorrectPointSubpixel(const cv::Point2d& p) const {
    FPoint b{};
    if (IsZero(focalZ)) {
        b = FPoint{ToFloat(p.x), ToFloat(p.y)};
    } else {
        const float dx = ToFloat(p.x - static_cast<double>(centerX));
        const float dy = ToFloat(p.y - static_cast<double>(centerY));
        const float s = ToFloat(static_cast<double>(quarvel::detail::Sq(dx)) + quarvel::detail::Sq(dy));
        const float k = quarvel::detail::BarrelFactor(focalZ, s);
        b = quarvel::detail::PlaceAboutOutputCentre(k, dx, dy, scale, outCenterX, outCenterY);
    }
    const cv::Matx33f& m = keyStoneMat;
    const double x = b.x;
    const double y = b.y;
    const float w = ToFloat((m(2, 0) * x + m(2, 1) * y) + m(2, 2));
    const float tx = ToFloat((m(0, 0) * x + m(0, 1) * y) + m(0, 2));
    const float ty = ToFloat((m(1, 0) * x + m(1, 1) * y) + m(1, 2));
    return cv::Point2d(static_cast<double>(tx) / w, static_cast<double>(ty) / w);
}

cv::Point Quarvel::CorrectPoint(const cv::Point& p) const {
    CvPoint in;
    in.x = p.x;
    in.y = p.y;
    const CvPoint out = CorrectPoint(in);
    return cv::Point(out.x, out.y);
}
