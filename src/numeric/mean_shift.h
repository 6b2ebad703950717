#ifndef QUARVEL_SRC_NUMERIC_MEAN_SHIFT_H
#define QUARVEL_SRC_NUMERIC_MEAN_SHIFT_H

#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// The mode of weighted samples (x, y, weight) near `start`: `steps` times,
// the centre moves to the samples' mean, each weighed by its own weight
// times a Gaussian of `width` about the centre. What lies a few widths
// away weighs nothing; a symmetric peak is found at its middle. Stops
// early where nothing weighs.
cv::Point2d MeanShift(const std::vector<cv::Point3d>& samples, cv::Point2d start, double width, int steps);

// The same for the weights of a w x h grid (row by row, at whole-number
// coordinates): the window is separable there, so it costs a column's and
// a row's worth of exponentials a step, not a sample's each.
cv::Point2d MeanShift(const float* weights, int w, int h, cv::Point2d start, double width, int steps);

}  // namespace quarvel::detail

#endif
