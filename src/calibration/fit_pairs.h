#ifndef QUARVEL_SRC_CALIBRATION_FIT_PAIRS_H
#define QUARVEL_SRC_CALIBRATION_FIT_PAIRS_H

#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// What every fit works on: where the camera saw each target, where the
// target was shown, and the sizes of the camera image and the display.
struct FitPairs {
    std::vector<cv::Point2d> camera;
    std::vector<cv::Point2d> display;
    cv::Size image;   // the camera image
    cv::Size screen;  // the display
};

}  // namespace quarvel::detail

#endif
