#include "calibration/lens_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/calib3d.hpp>

#include "calibration/least_squares.h"
#include "numeric/homography.h"
#include "numeric/lens_math.h"
#include "numeric/robust.h"

namespace quarvel::detail {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The lens model's positions are measured in this share of the camera
// image's longer side (a typical focal length); the fit's radial terms
// take whatever the lens's own focal length is.
constexpr double kFocalShare = 0.6;
constexpr int kMinPairs = 20;

// Positions scaled to about -1 ... 1 about a centre, so that every
// parameter the fit moves is of order one.
struct Scaling {
    cv::Point2d centre;
    double half = 1.0;
    cv::Matx33d To() const { return cv::Matx33d(1 / half, 0, -centre.x / half, 0, 1 / half, -centre.y / half, 0, 0, 1); }
    cv::Matx33d From() const { return cv::Matx33d(half, 0, centre.x, 0, half, centre.y, 0, 0, 1); }
};

Scaling ScalingOf(cv::Size size) {
    Scaling s;
    s.centre = cv::Point2d((size.width - 1) / 2.0, (size.height - 1) / 2.0);
    s.half = std::max(size.width, size.height) / 2.0;
    return s;
}

// The fit's parameters: the distortion centre (camera pixels), k1 ... k4,
// p1, p2, and the display -> undistorted camera homography in scaled
// coordinates (g22 = 1).
constexpr int kCentre = 0;
constexpr int kRadial = 2;
constexpr int kTangential = 6;
constexpr int kHomography = 8;
constexpr int kParameters = 16;

struct Unpacked {
    LensStage lens;
    cv::Matx33d toCamera;  // display pixels -> undistorted camera pixels
};

Unpacked Unpack(const std::vector<double>& x, LensStage::Form form, double focal, const Scaling& camera,
                const Scaling& display) {
    Unpacked u;
    u.lens.form = form;
    u.lens.centerX = x[kCentre];
    u.lens.centerY = x[kCentre + 1];
    u.lens.focal = focal;
    for (int i = 0; i < 4; ++i) {
        u.lens.k[i] = x[static_cast<std::size_t>(kRadial + i)];
    }
    u.lens.p[0] = x[kTangential];
    u.lens.p[1] = x[kTangential + 1];
    const cv::Matx33d scaled(x[kHomography], x[kHomography + 1], x[kHomography + 2], x[kHomography + 3],
                             x[kHomography + 4], x[kHomography + 5], x[kHomography + 6], x[kHomography + 7], 1.0);
    u.toCamera = camera.From() * scaled * display.To();
    return u;
}

// The stage's homography (undistorted camera -> display) from the fit's,
// scaled so that h22 is 1 where that keeps w positive.
cv::Matx33d DisplayHomography(const cv::Matx33d& toCamera) {
    cv::Matx33d h = toCamera.inv();
    if (std::abs(h(2, 2)) > 1e-12) {
        h *= 1.0 / h(2, 2);
    }
    return h;
}

std::vector<double> Pack(const LensStage& lens, const Scaling& camera, const Scaling& display) {
    std::vector<double> x(kParameters, 0.0);
    x[kCentre] = lens.centerX;
    x[kCentre + 1] = lens.centerY;
    for (int i = 0; i < 4; ++i) {
        x[static_cast<std::size_t>(kRadial + i)] = lens.k[i];
    }
    x[kTangential] = lens.p[0];
    x[kTangential + 1] = lens.p[1];
    cv::Matx33d scaled = camera.To() * lens.homography.inv() * display.From();
    scaled *= 1.0 / scaled(2, 2);
    for (int i = 0; i < 8; ++i) {
        x[static_cast<std::size_t>(kHomography + i)] = scaled.val[i];
    }
    return x;
}

}  // namespace

std::vector<double> StageResiduals(const LensStage& lens, const FitPairs& pairs) {
    std::vector<double> r(pairs.camera.size());
    for (std::size_t i = 0; i < r.size(); ++i) {
        const cv::Point2d d = StageDisplay(lens, pairs.image, pairs.camera[i]) - pairs.display[i];
        const double e = std::hypot(d.x, d.y);
        r[i] = std::isfinite(e) ? e : kInfinity;
    }
    return r;
}

bool FitLensModel(const FitPairs& pairs, const std::vector<bool>& use, LensStage::Form form, LensStage& lens,
                  const LensStage* start, int iterations) {
    const Scaling camera = ScalingOf(pairs.image);
    const Scaling display = ScalingOf(pairs.screen);
    const double focal = kFocalShare * std::max(pairs.image.width, pairs.image.height);
    std::vector<cv::Point2d> shown;
    std::vector<cv::Point2d> seen;
    for (std::size_t i = 0; i < use.size(); ++i) {
        if (use[i]) {
            shown.push_back(pairs.display[i]);
            seen.push_back(pairs.camera[i]);
        }
    }
    if (static_cast<int>(shown.size()) < kMinPairs) {
        return false;
    }
    std::vector<double> x;
    const bool warm = start != nullptr && start->form == form && start->active();
    if (warm) {
        x = Pack(*start, camera, display);
    } else {
        // A pinhole to start from: the plain homography between the two.
        std::vector<cv::Point2f> from;
        std::vector<cv::Point2f> to;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const cv::Point2d d = ApplyHomography(display.To(), shown[i]);
            const cv::Point2d c = ApplyHomography(camera.To(), seen[i]);
            from.emplace_back(static_cast<float>(d.x), static_cast<float>(d.y));
            to.emplace_back(static_cast<float>(c.x), static_cast<float>(c.y));
        }
        const cv::Mat h = cv::findHomography(from, to, 0);
        if (h.empty() || !cv::checkRange(h)) {
            return false;
        }
        x.assign(kParameters, 0.0);
        x[kCentre] = camera.centre.x;
        x[kCentre + 1] = camera.centre.y;
        const double h22 = h.at<double>(2, 2);
        for (int i = 0; i < 8; ++i) {
            x[static_cast<std::size_t>(kHomography + i)] = h.at<double>(i / 3, i % 3) / h22;
        }
    }
    LeastSquares problem;
    problem.residualCount = static_cast<int>(2 * shown.size());
    problem.evaluate = [&](const std::vector<double>& v, std::vector<double>& r) {
        const Unpacked u = Unpack(v, form, focal, camera, display);
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const cv::Point2d at = DistortPixel(u.lens, ApplyHomography(u.toCamera, shown[i])) - seen[i];
            r[2 * i] = at.x;
            r[2 * i + 1] = at.y;
        }
    };
    problem.steps.assign(kParameters, 1e-6);
    problem.steps[kCentre] = problem.steps[kCentre + 1] = 1e-3;
    problem.steps[kTangential] = problem.steps[kTangential + 1] = 1e-7;
    problem.active.assign(kParameters, true);
    problem.active[kRadial + 3] = form == LensStage::Form::Fisheye;  // k4: the fisheye's only
    if (!warm) {
        // First the pinhole and the main radial term, then everything: a
        // strong lens pulls the higher terms astray from a cold start.
        LeastSquares first = problem;
        for (int i = 0; i < kParameters; ++i) {
            first.active[static_cast<std::size_t>(i)] = i < kRadial + 1 || i >= kHomography;
        }
        Minimise(first, x, iterations);
    }
    const double cost = Minimise(problem, x, iterations);
    if (!std::isfinite(cost)) {
        return false;
    }
    const Unpacked u = Unpack(x, form, focal, camera, display);
    lens = u.lens;
    lens.homography = DisplayHomography(u.toCamera);
    lens.grid.clear();
    lens.gridColumns = lens.gridRows = 0;
    return UsableLens(lens);
}

bool FitLensRobust(const FitPairs& pairs, std::vector<bool>& use, LensStage::Form form, double threshold,
                   LensStage& lens) {
    std::vector<bool> current = use;
    LensStage fitted;
    bool have = false;
    const InlierRule rule{threshold, 4.0, static_cast<std::size_t>(kMinPairs)};
    const bool settled = SettleInliers(current, 4, rule, [&](const std::vector<bool>& on, std::vector<double>& r) {
        if (!FitLensModel(pairs, on, form, fitted, have ? &fitted : nullptr)) {
            return false;
        }
        have = true;
        r = StageResiduals(fitted, pairs);
        return true;
    });
    if (!settled) {
        return false;
    }
    use = current;
    lens = fitted;
    return true;
}

void FitResidualGrid(LensStage& lens, const FitPairs& pairs, const std::vector<bool>& use, int columns, int rows,
                     double smoothness) {
    lens.grid.clear();
    lens.gridColumns = lens.gridRows = 0;
    const int unknowns = columns * rows;
    std::vector<std::size_t> used;
    for (std::size_t i = 0; i < use.size(); ++i) {
        if (use[i]) {
            used.push_back(i);
        }
    }
    if (columns < 4 || rows < 4 || used.empty()) {
        return;
    }
    // What the lens model and homography leave, display pixels.
    cv::Mat a = cv::Mat::zeros(static_cast<int>(used.size()), unknowns, CV_64F);
    cv::Mat b(static_cast<int>(used.size()), 2, CV_64F);
    for (std::size_t n = 0; n < used.size(); ++n) {
        const std::size_t i = used[n];
        const cv::Point2d left = pairs.display[i] - StageDisplay(lens, pairs.image, pairs.camera[i]);
        SplineTerm terms[16];
        ResidualTerms(columns, rows, pairs.image, pairs.camera[i], terms);
        for (const SplineTerm& t : terms) {
            a.at<double>(static_cast<int>(n), t.index) += t.weight;
        }
        b.at<double>(static_cast<int>(n), 0) = left.x;
        b.at<double>(static_cast<int>(n), 1) = left.y;
    }
    // The penalty: second differences along rows and columns, and a light
    // pull toward zero where no pair constrains a control point.
    cv::Mat normal = a.t() * a;
    cv::Mat rhs = a.t() * b;
    const auto at = [&](int c, int r) { return r * columns + c; };
    const auto penalise = [&](int p, int q, int s) {
        const int idx[3] = {p, q, s};
        const double w[3] = {1.0, -2.0, 1.0};
        for (int u = 0; u < 3; ++u) {
            for (int v = 0; v < 3; ++v) {
                normal.at<double>(idx[u], idx[v]) += smoothness * w[u] * w[v];
            }
        }
    };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c + 2 < columns; ++c) {
            penalise(at(c, r), at(c + 1, r), at(c + 2, r));
        }
    }
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r + 2 < rows; ++r) {
            penalise(at(c, r), at(c, r + 1), at(c, r + 2));
        }
    }
    for (int i = 0; i < unknowns; ++i) {
        normal.at<double>(i, i) += 1e-3 * smoothness;
    }
    cv::Mat solution;
    if (!cv::solve(normal, rhs, solution, cv::DECOMP_CHOLESKY) && !cv::solve(normal, rhs, solution, cv::DECOMP_SVD)) {
        return;
    }
    lens.gridColumns = columns;
    lens.gridRows = rows;
    for (int i = 0; i < unknowns; ++i) {
        lens.grid.emplace_back(solution.at<double>(i, 0), solution.at<double>(i, 1));
    }
}

}  // namespace quarvel::detail
