#include "numeric/mean_shift.h"

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

}  // namespace quarvel::detail
