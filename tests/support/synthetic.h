#ifndef QUARVEL_TESTS_SUPPORT_SYNTHETIC_H
#define QUARVEL_TESTS_SUPPORT_SYNTHETIC_H

// Synthetic calibrations and the measurements a camera would make of them:
// the truths the fit, the tool and the camera tests are judged against.

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>
#include <quarvel/model.h>

namespace quarvel::test {

// A realistic truth for a 1280 x 720 camera on a 1920 x 1080 display: a
// barrel of corner magnification `magnification` (1: none) and a mild
// keystone that stretches the corrected image over most of the display.
CalibrationParams Truth(double magnification);

// The same for any camera and display: the corrected image's corners land
// on a quadrilateral covering most of the display whose top edge is
// narrower by `keystone` of the display width, scaled by `view` about the
// display's centre (below 1 the camera sees only the inner part of the
// display, above 1 the whole display and the wall around it), and
// mirrored left to right for a camera behind the screen.
CalibrationParams TruthFor(double magnification, cv::Size camera, cv::Size display, double keystone = 0.04,
                           double view = 1.0, bool mirrored = false);

// Targets on the tool's cols x rows grid and where the truth's camera sees
// them, with Gaussian noise of `noise` camera pixels.
std::vector<PointPair> Pairs(const Model& truth, int cols, int rows, double noise = 0.0, unsigned seed = 1);

// The same as a pairs file: "x y X Y" lines under a comment.
std::string PairsText(const std::vector<PointPair>& pairs);

// RMS distance, in display pixels, between two calibrations over a grid
// covering the camera image; `insideDisplay` keeps only the camera points
// the truth maps onto the display.
double HeldOutRms(const Model& truth, const Model& fitted, bool insideDisplay = false);

}  // namespace quarvel::test

#endif
