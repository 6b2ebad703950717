// The lens model and its residual grid as plain functions of a LensStage.

#include "numeric/lens_math.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric/homography.h"

namespace quarvel::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const cv::Point2d kNowhere(kNaN, kNaN);

bool Finite(const cv::Point2d& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The lens model on normalised positions: where x (undistorted) is seen.
cv::Point2d Distort(const LensStage& lens, const cv::Point2d& x) {
    const double r2 = x.x * x.x + x.y * x.y;
    double radial = 1.0;
    if (lens.form == LensStage::Form::Fisheye) {
        const double r = std::sqrt(r2);
        if (r > 0.0) {
            const double theta = std::atan(r);
            const double t2 = theta * theta;
            const double thetaD =
                theta * (1.0 + t2 * (lens.k[0] + t2 * (lens.k[1] + t2 * (lens.k[2] + t2 * lens.k[3]))));
            radial = thetaD / r;
        }
    } else {
        radial = 1.0 + r2 * (lens.k[0] + r2 * (lens.k[1] + r2 * lens.k[2]));
    }
    const double xy = x.x * x.y;
    return cv::Point2d(x.x * radial + 2.0 * lens.p[0] * xy + lens.p[1] * (r2 + 2.0 * x.x * x.x),
                       x.y * radial + lens.p[0] * (r2 + 2.0 * x.y * x.y) + 2.0 * lens.p[1] * xy);
}

// Uniform cubic B-spline weights at fraction t.
void BSplineWeights(double t, double w[4]) {
    const double s = 1.0 - t;
    w[0] = s * s * s / 6.0;
    w[1] = (3.0 * t * t * t - 6.0 * t * t + 4.0) / 6.0;
    w[2] = (-3.0 * t * t * t + 3.0 * t * t + 3.0 * t + 1.0) / 6.0;
    w[3] = t * t * t / 6.0;
}

}  // namespace

cv::Point2d DistortPixel(const LensStage& lens, const cv::Point2d& undistorted) noexcept {
    const cv::Point2d centre(lens.centerX, lens.centerY);
    return centre + Distort(lens, (undistorted - centre) / lens.focal) * lens.focal;
}

cv::Point2d UndistortPixel(const LensStage& lens, const cv::Point2d& seen) noexcept {
    // Newton's method on the normalised model, from the seen position; the
    // Jacobian by central differences, steps limited to a fifth of the
    // focal length so that a strong lens cannot throw the search past its
    // fold.
    const cv::Point2d centre(lens.centerX, lens.centerY);
    const cv::Point2d target = (seen - centre) / lens.focal;
    cv::Point2d x = target;
    constexpr double h = 1e-7;
    for (int iteration = 0; iteration < 40; ++iteration) {
        const cv::Point2d e = Distort(lens, x) - target;
        if (std::abs(e.x) + std::abs(e.y) < 1e-14) {
            break;
        }
        const cv::Point2d ju = (Distort(lens, x + cv::Point2d(h, 0)) - Distort(lens, x - cv::Point2d(h, 0))) / (2 * h);
        const cv::Point2d jv = (Distort(lens, x + cv::Point2d(0, h)) - Distort(lens, x - cv::Point2d(0, h))) / (2 * h);
        const double det = ju.x * jv.y - jv.x * ju.y;
        if (!(std::abs(det) > 1e-12)) {
            return kNowhere;
        }
        cv::Point2d step((jv.y * e.x - jv.x * e.y) / det, (-ju.y * e.x + ju.x * e.y) / det);
        const double length = std::hypot(step.x, step.y);
        if (length > 0.2) {
            step *= 0.2 / length;
        }
        x -= step;
    }
    const cv::Point2d back = Distort(lens, x) - target;
    if (!(std::hypot(back.x, back.y) < 1e-9) || !Finite(x)) {
        return kNowhere;
    }
    return centre + x * lens.focal;
}

void ResidualTerms(int columns, int rows, cv::Size image, const cv::Point2d& camera, SplineTerm terms[16]) noexcept {
    // Control point (i, j) sits at (-0.5 + (i - 1) sx, -0.5 + (j - 1) sy):
    // the image spans the lattice's inner cells. Beyond, the edge cell's
    // polynomial goes on for up to a cell, then holds.
    const double sx = static_cast<double>(image.width) / (columns - 3);
    const double sy = static_cast<double>(image.height) / (rows - 3);
    const double gx = std::clamp((camera.x + 0.5) / sx + 1.0, 0.0, columns - 2.0);
    const double gy = std::clamp((camera.y + 0.5) / sy + 1.0, 0.0, rows - 2.0);
    const int ix = std::clamp(static_cast<int>(std::floor(gx)), 1, columns - 3);
    const int iy = std::clamp(static_cast<int>(std::floor(gy)), 1, rows - 3);
    double wx[4];
    double wy[4];
    BSplineWeights(gx - ix, wx);
    BSplineWeights(gy - iy, wy);
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            terms[j * 4 + i] = SplineTerm{(iy - 1 + j) * columns + ix - 1 + i, wx[i] * wy[j]};
        }
    }
}

cv::Point2d Residual(const LensStage& lens, cv::Size image, const cv::Point2d& camera) noexcept {
    if (lens.grid.empty() || lens.gridColumns < 4 || lens.gridRows < 4 || image.width <= 0 || image.height <= 0 ||
        !std::isfinite(camera.x) || !std::isfinite(camera.y)) {
        return cv::Point2d(0, 0);
    }
    SplineTerm terms[16];
    ResidualTerms(lens.gridColumns, lens.gridRows, image, camera, terms);
    cv::Point2d sum(0, 0);
    for (const SplineTerm& t : terms) {
        sum += lens.grid[static_cast<std::size_t>(t.index)] * t.weight;
    }
    return sum;
}

cv::Point2d StageDisplay(const LensStage& lens, cv::Size image, const cv::Point2d& camera) noexcept {
    const cv::Point2d undistorted = UndistortPixel(lens, camera);
    if (!Finite(undistorted)) {
        return kNowhere;
    }
    return ApplyHomographyInFront(lens.homography, undistorted) + Residual(lens, image, camera);
}

bool UsableLens(const LensStage& lens) noexcept {
    if (lens.form != LensStage::Form::Polynomial && lens.form != LensStage::Form::Fisheye) {
        return false;
    }
    bool finite = std::isfinite(lens.centerX) && std::isfinite(lens.centerY) && std::isfinite(lens.focal) &&
                  lens.focal > 0.0;
    for (const double v : lens.k) {
        finite = finite && std::isfinite(v);
    }
    for (const double v : lens.p) {
        finite = finite && std::isfinite(v);
    }
    for (int i = 0; i < 9; ++i) {
        finite = finite && std::isfinite(lens.homography.val[i]);
    }
    if (!finite || !(std::abs(cv::determinant(lens.homography)) > 0.0)) {
        return false;
    }
    if (lens.grid.empty()) {
        return lens.gridColumns == 0 && lens.gridRows == 0;
    }
    if (lens.gridColumns < 4 || lens.gridRows < 4 || lens.gridColumns > 256 || lens.gridRows > 256 ||
        lens.grid.size() != static_cast<std::size_t>(lens.gridColumns) * lens.gridRows) {
        return false;
    }
    return std::all_of(lens.grid.begin(), lens.grid.end(), [](const cv::Point2d& v) { return Finite(v); });
}

}  // namespace quarvel::detail
