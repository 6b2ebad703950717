// The chain with a real-valued input and an unrounded result.
//
// The projective step rounds X and Y to float before dividing by w. GCC
// 12's SLP vectorizer, packing the two quotients, can drop that rounding,
// so this file (like every correction source) is built with
// -fno-tree-slp-vectorize; the sub-pixel tests compare with values
// computed outside the library and would catch the fault.

#include <quarvel/quarvel.h>

#include "correction/radial_setup.h"

cv::Point2d Quarvel::CorrectPointSubpixel(const cv::Point2d& p) const {
    const FPoint b = quarvel::detail::BarrelMapping(p.x, p.y, focalZ, centerX, centerY, scale, outCenterX, outCenterY);
    const quarvel::detail::ProjectiveTerms t = quarvel::detail::ProjectiveStep(keyStoneMat, b);
    return cv::Point2d(static_cast<double>(t.x) / t.w, static_cast<double>(t.y) / t.w);
}

cv::Point Quarvel::CorrectPoint(const cv::Point& p) const {
    CvPoint in;
    in.x = p.x;
    in.y = p.y;
    const CvPoint out = CorrectPoint(in);
    return cv::Point(out.x, out.y);
}
