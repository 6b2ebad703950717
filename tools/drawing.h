#ifndef QUARVEL_TOOLS_DRAWING_H
#define QUARVEL_TOOLS_DRAWING_H

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::cli {

// The nearest pixel, held within +-1e6 so that OpenCV's drawing never
// sees an overflowing coordinate.
cv::Point Pixel(const cv::Point2d& p);

// The border of a picture of `size` (pixel centres 0 .. size - 1), each
// point taken through `map`, as a closed polyline of `steps` points a side;
// points `map` gives no finite position for are left out.
std::vector<cv::Point> MappedBorder(cv::Size size, const std::function<cv::Point2d(const cv::Point2d&)>& map,
                                    int steps = 64);

// A camera frame as a BGR picture to draw on (a copy).
cv::Mat ColourCopy(const cv::Mat& frame);

}  // namespace quarvel::cli

#endif
