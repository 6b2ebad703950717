// Where targets go on a display.

#include <quarvel/calibration.h>

#include <cmath>

namespace quarvel {

std::vector<cv::Point2d> TargetGrid(int columns, int rows, cv::Size display) {
    std::vector<cv::Point2d> targets;
    if (columns < 2 || rows < 2 || display.width <= 0 || display.height <= 0) {
        return targets;
    }
    const double width = display.width;
    const double height = display.height;
    targets.reserve(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            targets.emplace_back(std::round(width / 8.0 + c * (width * 0.75) / (columns - 1)),
                                 std::round(height / 8.0 + r * (height * 0.75) / (rows - 1)));
        }
    }
    return targets;
}

}  // namespace quarvel
