#ifndef QUARVEL_SRC_NUMERIC_LENS_MATH_H
#define QUARVEL_SRC_NUMERIC_LENS_MATH_H

// The lens stage's mathematics as plain functions of a LensStage: the lens
// model both ways, the residual B-spline, and the whole stage's target on
// the display. The model layer's LensMap tabulates them over a camera
// image; the fit evaluates them on its pairs.

#include <opencv2/core.hpp>

#include <quarvel/lens.h>

namespace quarvel::detail {

// The lens model alone (no homography, no residual), in camera pixels:
// where an undistorted position is seen, and the reverse (Newton's
// method; NaN where it does not converge).
cv::Point2d DistortPixel(const LensStage& lens, const cv::Point2d& undistorted) noexcept;
cv::Point2d UndistortPixel(const LensStage& lens, const cv::Point2d& seen) noexcept;

// The residual B-spline at a camera position, display pixels (0 without
// one); the lattice spans a camera image of `image` size.
cv::Point2d Residual(const LensStage& lens, cv::Size image, const cv::Point2d& camera) noexcept;

// The 16 control points a columns x rows lattice over `image` weighs at a
// camera position (index row by row, weight); what Residual sums.
struct SplineTerm {
    int index;
    double weight;
};
void ResidualTerms(int columns, int rows, cv::Size image, const cv::Point2d& camera, SplineTerm terms[16]) noexcept;

// The whole stage's target: H(undistort(p)) + residual(p), display pixels.
cv::Point2d StageDisplay(const LensStage& lens, cv::Size image, const cv::Point2d& camera) noexcept;

// Whether the stage's values can be used at all: finite, a known form, a
// positive focal length, a residual grid that fits its size.
bool UsableLens(const LensStage& lens) noexcept;

}  // namespace quarvel::detail

#endif
