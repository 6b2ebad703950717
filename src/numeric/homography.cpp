#include "numeric/homography.h"

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

// A point through a normaliser (a scale and a shift).
cv::Point2d Normalised(const cv::Matx33d& t, const cv::Point2d& p) {
    return cv::Point2d(t(0, 0) * p.x + t(0, 2), t(1, 1) * p.y + t(1, 2));
}

// The upper triangle R of A = QR (Householder reflections; Q is not
// formed). A is rows x 9, row-major, and is overwritten. A and R share
// their right singular vectors, so the null vector comes from a 9 x 9
// decomposition instead of one over all the rows.
cv::Matx<double, 9, 9> TriangleOf(std::vector<double>& a, int rows) {
    constexpr int n = 9;
    for (int k = 0; k < n && k < rows; ++k) {
        double norm = 0;
        for (int r = k; r < rows; ++r) {
            norm += a[r * n + k] * a[r * n + k];
        }
        norm = std::sqrt(norm);
        if (norm == 0) {
            continue;
        }
        const double alpha = a[k * n + k] > 0 ? -norm : norm;
        // v = x - alpha e1, kept in place below the diagonal (v_k aside).
        const double vk = a[k * n + k] - alpha;
        const double vnorm2 = vk * vk + (norm * norm - a[k * n + k] * a[k * n + k]);
        a[k * n + k] = alpha;
        if (!(vnorm2 > 0)) {
            continue;
        }
        for (int c = k + 1; c < n; ++c) {
            double dot = vk * a[k * n + c];
            for (int r = k + 1; r < rows; ++r) {
                dot += a[r * n + k] * a[r * n + c];
            }
            const double f = 2 * dot / vnorm2;
            a[k * n + c] -= f * vk;
            for (int r = k + 1; r < rows; ++r) {
                a[r * n + c] -= f * a[r * n + k];
            }
        }
    }
    cv::Matx<double, 9, 9> upper = cv::Matx<double, 9, 9>::zeros();
    for (int r = 0; r < n && r < rows; ++r) {
        for (int c = r; c < n; ++c) {
            upper(r, c) = a[r * n + c];
        }
    }
    return upper;
}

// The unit vector v minimising |R v| for upper-triangular R: the right
// singular vector of the smallest singular value. Inverse iteration on
// R^T R (two triangular solves a step) converges in a few steps whenever
// that value stands apart from the next; otherwise, or for a singular
// triangle, the SVD decides.
cv::Vec<double, 9> NullVector(const cv::Matx<double, 9, 9>& r) {
    constexpr int n = 9;
    constexpr int kMaxSteps = 40;
    cv::Vec<double, 9> x = cv::Vec<double, 9>::all(1.0 / 3.0);
    bool converged = false;
    for (int step = 0; step < kMaxSteps && !converged; ++step) {
        // R^T y = x, then R z = y.
        cv::Vec<double, 9> y;
        for (int i = 0; i < n; ++i) {
            double sum = x[i];
            for (int k = 0; k < i; ++k) {
                sum -= r(k, i) * y[k];
            }
            y[i] = sum / r(i, i);
        }
        cv::Vec<double, 9> z;
        for (int i = n - 1; i >= 0; --i) {
            double sum = y[i];
            for (int k = i + 1; k < n; ++k) {
                sum -= r(i, k) * z[k];
            }
            z[i] = sum / r(i, i);
        }
        const double norm = cv::norm(z);
        if (!(norm > 0) || !std::isfinite(norm)) {
            break;
        }
        z *= 1.0 / norm;
        if (z.dot(x) < 0) {
            z = -z;
        }
        converged = cv::norm(z - x, cv::NORM_INF) < 1e-15;
        x = z;
    }
    if (converged) {
        return x;
    }
    cv::Mat w;
    cv::Mat u;
    cv::Mat vt;
    cv::SVD::compute(r, w, u, vt);
    return cv::Vec<double, 9>(vt.ptr<double>(8));
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
    std::vector<double> a(static_cast<std::size_t>(2 * n) * 9);
    double* row = a.data();
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (!use[i]) {
            continue;
        }
        const cv::Point2d p = Normalised(tf, from[i]);
        const cv::Point2d q = Normalised(tt, to[i]);
        const double v0[9] = {p.x, p.y, 1, 0, 0, 0, -q.x * p.x, -q.x * p.y, -q.x};
        const double v1[9] = {0, 0, 0, p.x, p.y, 1, -q.y * p.x, -q.y * p.y, -q.y};
        std::copy(v0, v0 + 9, row);
        std::copy(v1, v1 + 9, row + 9);
        row += 18;
    }
    const cv::Vec<double, 9> null = NullVector(TriangleOf(a, 2 * n));
    const cv::Matx33d hn(null.val);
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
