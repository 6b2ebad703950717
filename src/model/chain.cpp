// The main chain: barrel undistortion about the source centre into the
// display-fitted output image, then the projective matrix.
//
// The projective step rounds X and Y to float before dividing by w. GCC
// 12's SLP vectorizer, packing the two quotients, can drop that rounding,
// so this file (like every source of the chain) is built with
// -fno-tree-slp-vectorize; the sub-pixel tests compare with values computed
// outside the library and would catch the fault.

#include "model/chain.h"

#include "model/lens_map.h"
#include "numeric/arithmetic.h"
#include "model/zero_test.h"

namespace quarvel::detail {

float BarrelFactor(float f, float s) noexcept {
    const float t = ToFloat(s / (2.0 * f));
    return ToFloat(f / (f - 2.0 * t));
}

FloatPoint PlaceAboutOutputCentre(float k, float dx, float dy, float scale, float outCenterX, float outCenterY) noexcept {
    const float offsetX = ToFloat(static_cast<double>(k) * dx * scale);
    const float offsetY = ToFloat(static_cast<double>(k) * dy * scale);
    return FloatPoint{ToFloat(static_cast<double>(outCenterX) + offsetX), ToFloat(static_cast<double>(outCenterY) + offsetY)};
}

FloatPoint BarrelMapping(const Chain& c, double x, double y) noexcept {
    if (IsZeroParam(c.focal)) {
        return FloatPoint{ToFloat(x), ToFloat(y)};
    }
    const float dx = ToFloat(x - static_cast<double>(c.centerX));
    const float dy = ToFloat(y - static_cast<double>(c.centerY));
    const float s = ToFloat(static_cast<double>(Sq(dx)) + Sq(dy));
    return PlaceAboutOutputCentre(BarrelFactor(c.focal, s), dx, dy, c.scale, c.outCenterX, c.outCenterY);
}

ProjectiveTerms ProjectiveStep(const cv::Matx33f& m, const FloatPoint& p) noexcept {
    const double x = p.x;
    const double y = p.y;
    return ProjectiveTerms{ToFloat((m(2, 0) * x + m(2, 1) * y) + m(2, 2)), ToFloat((m(0, 0) * x + m(0, 1) * y) + m(0, 2)),
                           ToFloat((m(1, 0) * x + m(1, 1) * y) + m(1, 2))};
}

CvPoint ProjectToPixel(const cv::Matx33f& m, const FloatPoint& p) noexcept {
    const ProjectiveTerms t = ProjectiveStep(m, p);
    CvPoint out;
    out.x = TruncPlusHalf(static_cast<double>(t.x) / t.w);
    out.y = TruncPlusHalf(static_cast<double>(t.y) / t.w);
    return out;
}

CvPoint CorrectPixel(const Chain& c, const CvPoint& p) noexcept {
    if (c.lens != nullptr) {
        return c.lens->CorrectPixel(p);
    }
    return ProjectToPixel(c.matrix, BarrelMapping(c, p.x, p.y));
}

cv::Point2d CorrectSubpixel(const Chain& c, const cv::Point2d& p) noexcept {
    if (c.lens != nullptr) {
        return c.lens->Correct(p);
    }
    const ProjectiveTerms t = ProjectiveStep(c.matrix, BarrelMapping(c, p.x, p.y));
    return cv::Point2d(static_cast<double>(t.x) / t.w, static_cast<double>(t.y) / t.w);
}

}  // namespace quarvel::detail
