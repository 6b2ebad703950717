#ifndef QUARVEL_TOOLS_CALIBRATION_REPORT_H
#define QUARVEL_TOOLS_CALIBRATION_REPORT_H

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>

namespace quarvel::cli {

// A picture of the display (its size, BGR): the targets, the fitted
// positions with their residual vectors magnified (the factor is written on
// the picture), rejected pairs marked, and the outline of the camera image
// drawn through the fitted chain.
cv::Mat DrawCalibrationReport(const std::vector<PointPair>& pairs, const FitResult& fit);

// The picture a target is shown with: black, a crosshair at the target and
// its number.
cv::Mat DrawTarget(int displayWidth, int displayHeight, const cv::Point2d& target, int number);

}  // namespace quarvel::cli

#endif
