#include "model/lens_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/chain.h"
#include "model/numeric.h"

namespace quarvel::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const cv::Point2d kNowhere(kNaN, kNaN);

bool Finite(const cv::Point2d& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

cv::Point2d Apply(const cv::Matx33d& h, const cv::Point2d& p) {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    if (!(w > 0.0)) {
        return kNowhere;  // behind the plane
    }
    return cv::Point2d((h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w, (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w);
}

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

// Catmull-Rom weights at fraction t (interpolating: node values are met).
void CatmullRomWeights(double t, double w[4]) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    w[0] = 0.5 * (-t3 + 2.0 * t2 - t);
    w[1] = 0.5 * (3.0 * t3 - 5.0 * t2 + 2.0);
    w[2] = 0.5 * (-3.0 * t3 + 4.0 * t2 + t);
    w[3] = 0.5 * (t3 - t2);
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
    return Apply(lens.homography, undistorted) + Residual(lens, image, camera);
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

LensMap::LensMap(const CalibrationParams& params, const Chain& plain)
    : lens_(params.lens),
      image_(std::max(0, params.imageWidth), std::max(0, params.imageHeight)),
      plain_(std::make_unique<Chain>(plain)),
      toUndistorted_(params.lens.homography.inv()) {
    plain_->lens = nullptr;
    // The inverse homography scaled so that display positions come out in
    // front of the plane (w > 0), as the homography's own do.
    const cv::Point2d middle = Apply(lens_.homography, cv::Point2d(lens_.centerX, lens_.centerY));
    const double w = toUndistorted_(2, 0) * middle.x + toUndistorted_(2, 1) * middle.y + toUndistorted_(2, 2);
    if (w < 0.0) {
        toUndistorted_ *= -1.0;
    }
    if (!UsableLens(lens_) || image_.area() <= 0 || image_.width > 16384 || image_.height > 16384) {
        return;  // no nodes: every position is NaN
    }
    step_ = std::max(kStep, (std::max(image_.width, image_.height) + kMostNodes - 1) / kMostNodes);
    columns_ = (image_.width - 1) / step_ + 2 * kMargin + 2;
    rows_ = (image_.height - 1) / step_ + 2 * kMargin + 2;
    nodes_.resize(static_cast<std::size_t>(columns_) * rows_);
    for (int r = 0; r < rows_; ++r) {
        for (int c = 0; c < columns_; ++c) {
            const cv::Point2d camera((c - kMargin) * step_, (r - kMargin) * step_);
            const cv::Point2d target = StageDisplay(lens_, image_, camera);
            nodes_[static_cast<std::size_t>(r * columns_ + c)] =
                Finite(target) ? detail::Invert(*plain_, target) : kNowhere;
        }
    }
}

cv::Point2d LensMap::Stage(const cv::Point2d& p) const noexcept {
    const double gx = p.x / step_ + kMargin;
    const double gy = p.y / step_ + kMargin;
    if (!(gx >= 1.0 && gy >= 1.0 && gx < columns_ - 2 && gy < rows_ - 2)) {
        return kNowhere;
    }
    const int ix = static_cast<int>(gx);
    const int iy = static_cast<int>(gy);
    double wx[4];
    double wy[4];
    CatmullRomWeights(gx - ix, wx);
    CatmullRomWeights(gy - iy, wy);
    cv::Point2d sum(0, 0);
    for (int j = 0; j < 4; ++j) {
        const cv::Point2d* row = &nodes_[static_cast<std::size_t>((iy - 1 + j) * columns_ + ix - 1)];
        const cv::Point2d across = row[0] * wx[0] + row[1] * wx[1] + row[2] * wx[2] + row[3] * wx[3];
        sum += across * wy[j];
    }
    return sum;
}

cv::Point2d LensMap::Correct(const cv::Point2d& p) const noexcept {
    const cv::Point2d at = Stage(p);
    if (!Finite(at)) {
        return kNowhere;
    }
    return CorrectSubpixel(*plain_, at);
}

CvPoint LensMap::CorrectPixel(const CvPoint& p) const noexcept {
    const cv::Point2d d = Correct(cv::Point2d(p.x, p.y));
    CvPoint out;
    out.x = TruncPlusHalf(d.x);
    out.y = TruncPlusHalf(d.y);
    return out;
}

const std::vector<CvPoint>* LensMap::Table(std::size_t batch) const noexcept {
    if (tableBuilt_.load(std::memory_order_acquire)) {
        return &table_;
    }
    if (batch < kTableBatch || image_.area() <= 0 || nodes_.empty() ||
        static_cast<long long>(image_.width) * image_.height > kTableArea) {
        return nullptr;
    }
    std::call_once(tableOnce_, [this]() noexcept {
        try {
            std::vector<CvPoint> table(static_cast<std::size_t>(image_.area()));
            for (int y = 0; y < image_.height; ++y) {
                for (int x = 0; x < image_.width; ++x) {
                    table[static_cast<std::size_t>(y) * image_.width + x] = CorrectPixel(cvPoint(x, y));
                }
            }
            table_ = std::move(table);
            tableBuilt_.store(true, std::memory_order_release);
        } catch (...) {
            // no memory for it: points are corrected one by one
        }
    });
    return tableBuilt_.load(std::memory_order_acquire) ? &table_ : nullptr;
}

void LensMap::CorrectPixels(const CvPoint* in, CvPoint* out, std::size_t n) const noexcept {
    if (in == nullptr || out == nullptr || n == 0) {
        return;
    }
    const std::vector<CvPoint>* table = Table(n);
    for (std::size_t i = 0; i < n; ++i) {
        const CvPoint p = in[i];
        if (table != nullptr && p.x >= 0 && p.y >= 0 && p.x < image_.width && p.y < image_.height) {
            out[i] = (*table)[static_cast<std::size_t>(p.y) * image_.width + p.x];
        } else {
            out[i] = CorrectPixel(p);
        }
    }
}

cv::Point2d LensMap::Invert(const cv::Point2d& display) const noexcept {
    if (nodes_.empty() || !Finite(display)) {
        return kNowhere;
    }
    // H(undistort(p)) + residual(p) = display: without a residual one step,
    // with one a few (the residual is small and smooth).
    cv::Point2d p = kNowhere;
    cv::Point2d residual(0, 0);
    const int steps = lens_.grid.empty() ? 1 : 6;
    for (int i = 0; i < steps; ++i) {
        const cv::Point2d undistorted = Apply(toUndistorted_, display - residual);
        if (!Finite(undistorted)) {
            return kNowhere;
        }
        p = DistortPixel(lens_, undistorted);
        if (!Finite(p)) {
            return kNowhere;
        }
        residual = Residual(lens_, image_, p);
    }
    return p;
}

}  // namespace quarvel::detail
