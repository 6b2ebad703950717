#ifndef QUARVEL_SRC_CALIBRATION_LENS_CHOICE_H
#define QUARVEL_SRC_CALIBRATION_LENS_CHOICE_H

// Which lens stage, if any, a set of pairs supports: the lens model of
// each form fitted with its own inlier set, with and without a residual
// grid, each judged by leaving whole regions of the display out.

#include <vector>

#include <quarvel/lens.h>

#include "calibration/expected_error.h"
#include "calibration/lens_fit.h"

namespace quarvel::detail {

// Pairs a lens stage needs at the least, and the share of the display
// their outline must span (fewer or narrower: the barrel alone).
inline constexpr int kLensMinPairs = 24;
inline constexpr double kLensMinSpan = 0.3;

struct LensCandidate {
    bool fitted = false;
    LensStage lens;              // with its residual grid when that judged better
    std::vector<bool> use;       // the pairs it keeps
    std::vector<double> leftOut;  // each pair's error with its region left out (NaN: not kept)
    double region = 0.0;         // the regions' side, display pixels
    double gridSmoothness = 0.0;  // the residual grid's penalty, where it has one
};

// Whether the pairs `use` marks could support a lens stage at all: enough
// of them, spanning a share of the display, or of the part of it the
// camera sees (`seenArea`, display pixels; 0: unknown) where that is less.
bool SupportsLensStage(const FitPairs& pairs, const std::vector<bool>& use, double seenArea = 0.0);

// The lens model (the form that fits best) with its inlier set, started
// from the pairs `use` marks; not fitted when neither form converges.
LensCandidate FitLensCandidate(const FitPairs& pairs, const std::vector<bool>& use, double threshold);

// Region leave-out for the candidate, and the residual grid tried on top:
// kept when it lowers the left-out error by a tenth.
void JudgeLensCandidate(const FitPairs& pairs, LensCandidate& candidate);

// Refits the candidate's stage on the pairs `without` marks (warm start)
// and returns where it puts every pair.
std::vector<cv::Point2d> RefitLensWithout(const FitPairs& pairs, const LensCandidate& candidate,
                                          const std::vector<bool>& without);

}  // namespace quarvel::detail

#endif
