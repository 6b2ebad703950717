#ifndef QUARVEL_SRC_CALIBRATION_PLAIN_FIT_H
#define QUARVEL_SRC_CALIBRATION_PLAIN_FIT_H

// The barrel and matrix fitted to pairs, without a lens stage:
//
// 1. A robust pass (least median of squares) at a few corner magnifications
//    and without barrel finds the gross outliers.
// 2. On the remaining pairs, a dense search over the corner magnification
//    (1 to 3; the residual has narrow valleys in the focal value) with the
//    matrix re-solved at each candidate, then a golden-section refinement.
// 3. A joint Levenberg-Marquardt refinement of focal value and matrix; the
//    pairs are classified again against the refined fit, and 2-3 repeat
//    while the inlier set changes.
// 4. The same without barrel; the barrel stays only where it fits clearly
//    better on the same pairs.
// Every residual is measured through the chain (ChainModel, on Model).

#include <vector>

#include <opencv2/core.hpp>

#include "calibration/chain_model.h"
#include "calibration/fit_pairs.h"

namespace quarvel::detail {

struct PlainFit {
    bool ok = false;  // false: fewer than 4 usable pairs after rejecting outliers
    FitVector fit;
    bool barrel = false;    // the barrel was kept
    std::vector<bool> use;  // the inliers
};

// Steps 1-4; `barrel` false fits the matrix alone.
PlainFit FitPlainModel(const ChainModel& model, const FitPairs& pairs, bool barrel, double threshold);

// Every pair's distance from its target under `v` (infinite where the
// chain has no value), and where `fitted` is given, the positions.
std::vector<double> ResidualsOf(const ChainModel& model, const FitPairs& pairs, const FitVector& v, bool barrel,
                                std::vector<cv::Point2d>* fitted = nullptr);

}  // namespace quarvel::detail

#endif
