#ifndef QUARVEL_SRC_CALIBRATION_HOMOGRAPHY_H
#define QUARVEL_SRC_CALIBRATION_HOMOGRAPHY_H

#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// The least-squares homography from `from` to `to` (normalised direct
// linear transform, a22 = 1), over the points whose `use` flag is set.
// False when fewer than four are used or the system is degenerate.
bool FitHomography(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                   const std::vector<bool>& use, cv::Matx33d& h);

// The same, robust to gross outliers (least median of squares).
bool FitHomographyRobust(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to, cv::Matx33d& h);

}  // namespace quarvel::detail

#endif
