#include "numeric/mean_shift.h"

#include <algorithm>
#include <cmath>

namespace quarvel::detail {

cv::Point2d MeanShift(const std::vector<cv::Point3d>& samples, cv::Point2d start, double width, int steps) {
    cv::Point2d centre = start;
    const double k = -0.5 / (width * width);
    for (int step = 0; step < steps; ++step) {
        double s = 0.0, cx = 0.0, cy = 0.0;
        for (const cv::Point3d& p : samples) {
            const double dx = p.x - centre.x;
            const double dy = p.y - centre.y;
            const double w = p.z * std::exp(k * (dx * dx + dy * dy));
            s += w;
            cx += w * p.x;
            cy += w * p.y;
        }
        if (!(s > 0.0)) {
            break;
        }
        centre = cv::Point2d(cx / s, cy / s);
    }
    return centre;
}

cv::Point2d MeanShift(const float* weights, int w, int h, cv::Point2d start, double width, int steps) {
    cv::Point2d centre = start;
    const double k = -0.5 / (width * width);
    std::vector<double> across(static_cast<std::size_t>(std::max(w, 0)));
    std::vector<double> down(static_cast<std::size_t>(std::max(h, 0)));
    for (int step = 0; step < steps; ++step) {
        for (int x = 0; x < w; ++x) {
            across[static_cast<std::size_t>(x)] = std::exp(k * (x - centre.x) * (x - centre.x));
        }
        for (int y = 0; y < h; ++y) {
            down[static_cast<std::size_t>(y)] = std::exp(k * (y - centre.y) * (y - centre.y));
        }
        double s = 0.0, cx = 0.0, cy = 0.0;
        for (int y = 0; y < h; ++y) {
            const float* row = weights + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
            double rs = 0.0, rx = 0.0;
            for (int x = 0; x < w; ++x) {
                const double v = row[x] > 0.0f ? row[x] * across[static_cast<std::size_t>(x)] : 0.0;
                rs += v;
                rx += v * x;
            }
            const double f = down[static_cast<std::size_t>(y)];
            s += rs * f;
            cx += rx * f;
            cy += rs * f * y;
        }
        if (!(s > 0.0)) {
            break;
        }
        centre = cv::Point2d(cx / s, cy / s);
    }
    return centre;
}

}  // namespace quarvel::detail
