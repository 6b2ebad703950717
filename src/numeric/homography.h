#ifndef QUARVEL_SRC_NUMERIC_HOMOGRAPHY_H
#define QUARVEL_SRC_NUMERIC_HOMOGRAPHY_H

// Plane-to-plane projective mappings: applying one to a point, and fitting
// one to point correspondences.

#include <limits>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// h applied to p: the quotients X / w and Y / w of h (x, y, 1), whatever
// the sign of w.
inline cv::Point2d ApplyHomography(const cv::Matx33d& h, const cv::Point2d& p) noexcept {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    return cv::Point2d((h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w, (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w);
}

// The same where p lies in front of the plane (w > 0); NaN behind it.
inline cv::Point2d ApplyHomographyInFront(const cv::Matx33d& h, const cv::Point2d& p) noexcept {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    if (!(w > 0.0)) {
        constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
        return cv::Point2d(kNaN, kNaN);
    }
    return cv::Point2d((h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w, (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w);
}

// The least-squares homography from `from` to `to` (normalised direct
// linear transform, a22 = 1), over the points whose `use` flag is set.
// False when fewer than four are used or the system is degenerate.
bool FitHomography(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                   const std::vector<bool>& use, cv::Matx33d& h);

// The same, robust to gross outliers (least median of squares).
bool FitHomographyRobust(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to, cv::Matx33d& h);

}  // namespace quarvel::detail

#endif
