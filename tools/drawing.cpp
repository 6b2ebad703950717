#include "drawing.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace quarvel::cli {

cv::Point Pixel(const cv::Point2d& p) {
    return cv::Point(static_cast<int>(std::lround(std::clamp(p.x, -1e6, 1e6))),
                     static_cast<int>(std::lround(std::clamp(p.y, -1e6, 1e6))));
}

std::vector<cv::Point> MappedBorder(cv::Size size, const std::function<cv::Point2d(const cv::Point2d&)>& map,
                                    int steps) {
    std::vector<cv::Point> border;
    const double w = size.width - 1;
    const double h = size.height - 1;
    if (w <= 0 || h <= 0) {
        return border;
    }
    const cv::Point2d corners[5] = {{0, 0}, {w, 0}, {w, h}, {0, h}, {0, 0}};
    for (int side = 0; side < 4; ++side) {
        for (int i = 0; i < steps; ++i) {
            const cv::Point2d along = corners[side] + (corners[side + 1] - corners[side]) * (static_cast<double>(i) / steps);
            const cv::Point2d p = map(along);
            if (std::isfinite(p.x) && std::isfinite(p.y)) {
                border.push_back(Pixel(p));
            }
        }
    }
    return border;
}

cv::Mat ColourCopy(const cv::Mat& frame) {
    cv::Mat picture;
    if (frame.channels() == 1) {
        cv::cvtColor(frame, picture, cv::COLOR_GRAY2BGR);
    } else if (frame.channels() == 4) {
        cv::cvtColor(frame, picture, cv::COLOR_BGRA2BGR);
    } else {
        picture = frame.clone();
    }
    return picture;
}

}  // namespace quarvel::cli
