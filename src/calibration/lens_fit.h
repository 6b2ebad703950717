#ifndef QUARVEL_SRC_CALIBRATION_LENS_FIT_H
#define QUARVEL_SRC_CALIBRATION_LENS_FIT_H

// Fitting the lens stage: a lens model and the homography that carries the
// undistorted camera image onto the display, fitted where the measurements
// are made (in the camera image: where each target is seen against where
// the model puts it), with the pairs classified again against the fit; and
// a smooth residual on top, where the data call for one.

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/lens.h>

#include "calibration/fit_pairs.h"

namespace quarvel::detail {

// The lens model of `form` and its homography, fitted to the pairs `use`
// marks, starting from a pinhole (or from `start` when it has the form).
// False when it does not converge to anything usable.
bool FitLensModel(const FitPairs& pairs, const std::vector<bool>& use, LensStage::Form form, LensStage& lens,
                  const LensStage* start = nullptr, int iterations = 60);

// How far the stage (lens model, homography, residual) puts each pair's
// camera point from its target on the display.
std::vector<double> StageResiduals(const LensStage& lens, const FitPairs& pairs);

// Fits the lens model with its inlier set: from `use` (the pairs a first,
// plainer fit kept), the fit, then every pair classified again against it
// (within `threshold` display pixels, or four robust spreads of the
// residuals), until the set settles. False when too few pairs remain.
bool FitLensRobust(const FitPairs& pairs, std::vector<bool>& use, LensStage::Form form, double threshold,
                   LensStage& lens);

// The residual B-spline (columns x rows control points over the camera
// image) fitted by least squares to what `lens` leaves on the pairs `use`
// marks, with a penalty on its second differences weighted by
// `smoothness`; replaces lens.grid.
void FitResidualGrid(LensStage& lens, const FitPairs& pairs, const std::vector<bool>& use, int columns, int rows,
                     double smoothness);

}  // namespace quarvel::detail

#endif
