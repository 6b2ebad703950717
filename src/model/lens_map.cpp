#include "model/lens_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/chain.h"
#include "numeric/arithmetic.h"
#include "numeric/homography.h"
#include "numeric/lens_math.h"

namespace quarvel::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const cv::Point2d kNowhere(kNaN, kNaN);

bool Finite(const cv::Point2d& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

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

LensMap::LensMap(const CalibrationParams& params, const Chain& plain)
    : lens_(params.lens),
      image_(std::max(0, params.imageWidth), std::max(0, params.imageHeight)),
      plain_(std::make_unique<Chain>(plain)),
      toUndistorted_(params.lens.homography.inv()) {
    plain_->lens = nullptr;
    // The inverse homography scaled so that display positions come out in
    // front of the plane (w > 0), as the homography's own do.
    const cv::Point2d middle = ApplyHomographyInFront(lens_.homography, cv::Point2d(lens_.centerX, lens_.centerY));
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
        const cv::Point2d undistorted = ApplyHomographyInFront(toUndistorted_, display - residual);
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
