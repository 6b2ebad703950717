#include "calibration/homography.h"

#include <cmath>

#include <opencv2/calib3d.hpp>

namespace quarvel::detail {
namespace {

// Hartley's normalisation: centroid to the origin, mean distance sqrt(2).
cv::Matx33d Normaliser(const std::vector<cv::Point2d>& p, const std::vector<bool>& use) {
    double cx = 0;
    double cy = 0;
    int n = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (use[i]) {
            cx += p[i].x;
            cy += p[i].y;
            ++n;
        }
    }
    cx /= n;
    cy /= n;
    double spread = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (use[i]) {
            spread += std::hypot(p[i].x - cx, p[i].y - cy);
        }
    }
    spread /= n;
    const double s = spread > 0 ? std::sqrt(2.0) / spread : 1.0;
    return cv::Matx33d(s, 0, -s * cx, 0, s, -s * cy, 0, 0, 1);
}

cv::Point2d Apply(const cv::Matx33d& t, const cv::Point2d& p) {
    return cv::Point2d(t(0, 0) * p.x + t(0, 2), t(1, 1) * p.y + t(1, 2));
}

}  // namespace

bool FitHomography(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                   const std::vector<bool>& use, cv::Matx33d& h) {
    int n = 0;
    for (const bool u : use) {
        n += u ? 1 : 0;
    }
    if (n < 4) {
        return false;
    }
    const cv::Matx33d tf = Normaliser(from, use);
    const cv::Matx33d tt = Normaliser(to, use);
    cv::Mat a(2 * n, 9, CV_64F);
    int row = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (!use[i]) {
            continue;
        }
        const cv::Point2d p = Apply(tf, from[i]);
        const cv::Point2d q = Apply(tt, to[i]);
        double* r0 = a.ptr<double>(row++);
        double* r1 = a.ptr<double>(row++);
        const double v0[9] = {p.x, p.y, 1, 0, 0, 0, -q.x * p.x, -q.x * p.y, -q.x};
        const double v1[9] = {0, 0, 0, p.x, p.y, 1, -q.y * p.x, -q.y * p.y, -q.y};
        std::copy(v0, v0 + 9, r0);
        std::copy(v1, v1 + 9, r1);
    }
    cv::Mat w;
    cv::Mat u;
    cv::Mat vt;
    cv::SVD::compute(a, w, u, vt, cv::SVD::FULL_UV);
    const cv::Mat last = vt.row(8);
    cv::Matx33d hn(last.ptr<double>());
    const cv::Matx33d full = tt.inv() * hn * tf;
    if (!(std::abs(full(2, 2)) > 1e-300) || !std::isfinite(full(2, 2))) {
        return false;
    }
    h = full * (1.0 / full(2, 2));
    for (int i = 0; i < 9; ++i) {
        if (!std::isfinite(h.val[i])) {
            return false;
        }
    }
    return true;
}

bool FitHomographyRobust(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to, cv::Matx33d& h) {
    if (from.size() < 4) {
        return false;
    }
    cv::Mat found = cv::findHomography(from, to, cv::LMEDS);
    if (found.empty() || found.type() != CV_64F) {
        return false;
    }
    h = cv::Matx33d(found.ptr<double>());
    return std::isfinite(h(2, 2)) && std::abs(h(2, 2)) > 0;
}

}  // namespace quarvel::detail
