#ifndef QUARVEL_SRC_CALIBRATION_REFINE_H
#define QUARVEL_SRC_CALIBRATION_REFINE_H

#include <vector>

#include "calibration/chain_model.h"

namespace quarvel::detail {

// The largest kappa a fit may take: a corner magnification of 3.
inline constexpr double kMaxKappa = 2.0 / 3.0;

// Joint least-squares refinement (Levenberg-Marquardt) of the fit vector on the pairs whose `use` flag is set, with the residuals
// measured through the chain. Without the barrel, kappa stays 0 and only
// the matrix moves.
FitVector Refine(const ChainModel& model, const FitVector& start, bool barrel, const std::vector<cv::Point2d>& camera,
                 const std::vector<cv::Point2d>& display, const std::vector<bool>& use, int maxIterations);

}  // namespace quarvel::detail

#endif
