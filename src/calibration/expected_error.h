#ifndef QUARVEL_SRC_CALIBRATION_EXPECTED_ERROR_H
#define QUARVEL_SRC_CALIBRATION_EXPECTED_ERROR_H

// How far a fit can be expected to be off over the whole display the
// camera sees, not only at the pairs it was fitted to: whole regions of the
// display are left out in turn and predicted by the fit made without them,
// and where the camera sees the display but no pair lies, the error grows
// with the distance the fit has to reach.

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// The side of the regions left out: a little over the typical spacing of
// the pairs on the display, so that each region holds a few of them.
double RegionSize(const std::vector<cv::Point2d>& display, const std::vector<bool>& use);

// For every pair in use, its error (display pixels) when the region of
// `region` pixels it lies in is left out: `refit(without)` fits again on
// the pairs `without` marks and returns where that fit puts every pair.
// NaN for pairs not in use.
std::vector<double> LeaveRegionsOut(const std::vector<cv::Point2d>& display, const std::vector<bool>& use,
                                    double region,
                                    const std::function<std::vector<cv::Point2d>(const std::vector<bool>&)>& refit);

struct DisplayError {
    double rms = 0.0;
    double max = 0.0;
    cv::Mat error;     // CV_32FC1 over the display, kMapStep pixels a cell: expected error, NaN where not seen
    cv::Mat coverage;  // CV_8UC1, the same cells: 0 not seen, 1 seen beyond the pairs, 2 among them
};

inline constexpr int kMapStep = 20;  // display pixels per cell of the maps

// The expected error over the display the camera sees (`seen(p)` for a
// display position): among the pairs, the region-left-out errors of the
// nearest ones; beyond them, the largest of those, growing with the square
// of (1 + the distance beyond the pairs in pair spacings).
DisplayError ExpectedOverDisplay(const std::vector<cv::Point2d>& display, const std::vector<bool>& use,
                                 const std::vector<double>& leftOut, cv::Size screen, double region,
                                 const std::function<bool(const cv::Point2d&)>& seen);

}  // namespace quarvel::detail

#endif
