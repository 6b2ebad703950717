#ifndef QUARVEL_CALIBRATION_H
#define QUARVEL_CALIBRATION_H

// Making a calibration: fit the focal value and the projective matrix from
// measured point pairs, and write the parameter file a load reads.
//
//   std::vector<quarvel::PointPair> pairs = ...;   // camera centroid -> target shown
//   quarvel::FitOptions options;
//   options.imageWidth = 1280; options.imageHeight = 720;
//   options.displayWidth = 1920; options.displayHeight = 1080;
//   const quarvel::FitResult fit = quarvel::FitCalibration(pairs, options);
//   if (fit.ok) quarvel::WriteParameterFile("calibration.ini", fit.params);
//
// The model is the correction chain itself: the barrel (one focal value),
// the fit to a display of the given size and the 3x3 matrix. Every fitted
// position and residual is computed through quarvel::Model with the
// parameters exactly as the file stores them, so a host that loads the
// written file on that display computes exactly the fitted positions.

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/export.h>
#include <quarvel/model.h>
#include <quarvel/parameter_file.h>

namespace quarvel {

// One measurement: where the camera saw a target (sub-pixel) and the
// display pixel where the target was shown.
struct PointPair {
    cv::Point2d camera;
    cv::Point2d display;
};

struct FitOptions {
    int imageWidth = 0;     // camera image size (required)
    int imageHeight = 0;
    int displayWidth = 0;   // the display the calibration is for (required)
    int displayHeight = 0;
    bool barrel = true;     // false: fit the matrix alone (focal value 0)
    // Fit a lens stage too (quarvel/lens.h) where the pairs support one (at
    // least 24 spanning a third of the display) and it lowers the expected
    // error over the display measurably. False: the barrel and matrix
    // alone, a file any reader of the original sections reads the same.
    bool lens = true;
    // A pair whose residual exceeds this many pixels, and four times the
    // robust spread of all residuals, is rejected as a gross outlier.
    double outlierPixels = 3.0;
};

struct PairFit {
    cv::Point2d fitted;            // the camera point through the fitted chain
    double residual = 0.0;         // |fitted - display|, pixels
    double leaveOneOut = 0.0;      // the same with the fit redone without this pair (NaN: too few pairs)
    bool inlier = false;           // false: rejected as an outlier
};

struct FitResult {
    bool ok = false;      // a trustworthy fit
    std::string reason;   // why not, when !ok
    CalibrationParams params;    // with params.lens active where a lens stage was fitted
    std::string model;           // "barrel and matrix", "polynomial lens stage in front of the barrel and matrix", ...
    std::vector<PairFit> pairs;  // one per input pair, in order
    double rms = 0.0;            // over the inliers
    double max = 0.0;
    double leaveOneOutRms = 0.0;
    int used = 0;                // inliers
    // The error to expect over the whole display the camera sees, display
    // pixels: each region of the display left out in turn and predicted by
    // the fit made without it, growing with the distance beyond the pairs
    // where the camera sees the display but no pair lies. Unlike rms, it
    // does not flatter a fit that only matches its own pairs.
    double expectedRms = 0.0;
    double expectedMax = 0.0;
    // The same over the display, a cell every 20 display pixels: the
    // expected error (CV_32FC1, NaN where the camera does not see the
    // display), and where the pairs lie (CV_8UC1: 0 not seen, 1 seen but
    // beyond the pairs, extrapolated; 2 among them, interpolated).
    cv::Mat expectedError;
    cv::Mat coverage;
};

// Fits the focal value (unless options.barrel is false, or no barrel fits
// better) and the matrix (normalised so that a22 = 1) for the image and
// display sizes given, rejecting gross outliers; then, where the pairs
// support one and options.lens allows, a lens stage in front of them,
// kept only where it lowers the error expected over the display (each
// region of the display left out in turn and predicted by the rest). The
// result says that expected error, each pair's residual and leave-one-out
// residual. Not trustworthy (ok false, with a reason): fewer than 4 usable
// pairs, targets or camera points all on one line, a fit Diagnose finds a
// flaw in (w <= 0 somewhere over the image, a folded picture), non-finite
// input. Never throws.
QUARVEL_EXPORT FitResult FitCalibration(const std::vector<PointPair>& pairs, const FitOptions& options);

// Targets on a columns x rows grid inset 1/8 of the display from each
// edge, row by row, each rounded to a whole pixel: where the tool shows
// them, and a good layout for any measurement. Empty unless columns and
// rows are at least 2 and the display is not empty.
QUARVEL_EXPORT std::vector<cv::Point2d> TargetGrid(int columns, int rows, cv::Size display);

}  // namespace quarvel

#endif
