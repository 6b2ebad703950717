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

// A picture of a fit over the camera frame it was measured in (BGR, the
// frame's size): the display's outline through the fit, each corner found
// with its residual vector magnified (the factor is written on the
// picture), rejected ones marked, and the summary.
cv::Mat DrawFrameReport(const cv::Mat& frame, const std::vector<PointPair>& pairs, const FitResult& fit,
                        double coverage);

// The picture a target is shown with: black, a crosshair at the target and
// its number.
cv::Mat DrawTarget(int displayWidth, int displayHeight, const cv::Point2d& target, int number);

}  // namespace quarvel::cli

#endif
