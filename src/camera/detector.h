#ifndef QUARVEL_SRC_CAMERA_DETECTOR_H
#define QUARVEL_SRC_CAMERA_DETECTOR_H

#include <opencv2/core.hpp>

#include <quarvel/pattern.h>

#include "camera/board.h"

namespace quarvel::detail {

// The share of the display inside the outline of the pairs' display
// positions, and the share of the pattern's own corner outline.
double Coverage(const std::vector<PointPair>& pairs, cv::Size display);
double PatternCoverage(const std::vector<PointPair>& pairs, cv::Size display, PatternKind kind);
double PatternCoverage(const std::vector<PointPair>& pairs, const BoardLayout& layout);

// DetectCalibrationPattern without its guard against exceptions.
// `mirroredFirst` tries the mirror image first (a camera already known to
// see the display mirrored).
PatternDetection Detect(const cv::Mat& frame, int displayWidth, int displayHeight, PatternKind kind,
                        bool mirroredFirst = false);

}  // namespace quarvel::detail

#endif
