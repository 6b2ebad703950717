#include "calibration/trust.h"

#include <algorithm>
#include <cmath>

namespace quarvel::detail {

bool SpansAPlane(const std::vector<cv::Point2d>& points, const std::vector<bool>& use) {
    double mx = 0;
    double my = 0;
    int n = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (use[i]) {
            mx += points[i].x;
            my += points[i].y;
            ++n;
        }
    }
    if (n < 3) {
        return false;
    }
    mx /= n;
    my /= n;
    double sxx = 0;
    double syy = 0;
    double sxy = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (use[i]) {
            const double dx = points[i].x - mx;
            const double dy = points[i].y - my;
            sxx += dx * dx;
            syy += dy * dy;
            sxy += dx * dy;
        }
    }
    // The smaller principal spread, in pixels: under half a pixel is a line.
    const double mean = (sxx + syy) / 2;
    const double root = std::sqrt(std::max(0.0, mean * mean - (sxx * syy - sxy * sxy)));
    const double smaller = (mean - root) / n;
    return std::sqrt(std::max(0.0, smaller)) > 0.5;
}

std::string Untrustworthy(const ChainModel& model, const CalibrationParams& params) {
    const std::vector<Flaw> flaws = Diagnose(model.ModelOf(params));
    return flaws.empty() ? std::string() : flaws.front().message;
}

}  // namespace quarvel::detail
