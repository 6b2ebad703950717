#ifndef QUARVEL_SRC_CALIBRATION_TRUST_H
#define QUARVEL_SRC_CALIBRATION_TRUST_H

#include <string>
#include <vector>

#include "calibration/chain_model.h"

namespace quarvel::detail {

// True when the points span a plane: not all on one line (nor one point).
bool SpansAPlane(const std::vector<cv::Point2d>& points, const std::vector<bool>& use);

// Why `params` cannot be trusted over the whole camera image (the first
// flaw Diagnose finds), or an empty string.
std::string Untrustworthy(const ChainModel& model, const CalibrationParams& params);

}  // namespace quarvel::detail

#endif
