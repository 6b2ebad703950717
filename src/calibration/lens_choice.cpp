#include "calibration/lens_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "numeric/lens_math.h"

namespace quarvel::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kLeaveOutIterations = 12;  // a warm refit settles in a few
constexpr double kGridGain = 0.9;        // a residual grid stays when it lowers the left-out error this far

double Rms(const std::vector<double>& errors) {
    double sum = 0.0;
    int n = 0;
    for (const double e : errors) {
        if (!std::isnan(e)) {
            sum += e * e;
            ++n;
        }
    }
    return n > 0 ? std::sqrt(sum / n) : std::numeric_limits<double>::infinity();
}

// A residual grid of about `perPoint` pairs for each control point, in
// the camera image's proportions.
cv::Size GridFor(int pairs, double perPoint, cv::Size image) {
    const double aspect = static_cast<double>(image.width) / std::max(1, image.height);
    const double points = pairs / perPoint;
    const int columns = std::clamp(static_cast<int>(std::lround(std::sqrt(points * aspect))), 4, 16);
    const int rows = std::clamp(static_cast<int>(std::lround(points / columns)), 4, 16);
    return cv::Size(columns, rows);
}

struct GridChoice {
    cv::Size size;
    double smoothness;
};

}  // namespace

bool SupportsLensStage(const FitPairs& pairs, const std::vector<bool>& use, double seenArea) {
    std::vector<cv::Point2f> shown;
    for (std::size_t i = 0; i < use.size(); ++i) {
        if (use[i]) {
            shown.emplace_back(static_cast<float>(pairs.display[i].x), static_cast<float>(pairs.display[i].y));
        }
    }
    if (static_cast<int>(shown.size()) < kLensMinPairs || pairs.screen.area() <= 0) {
        return false;
    }
    std::vector<cv::Point2f> hull;
    cv::convexHull(shown, hull);
    const double area = seenArea > 0.0 ? std::min<double>(seenArea, pairs.screen.area()) : pairs.screen.area();
    return cv::contourArea(hull) >= kLensMinSpan * area;
}

LensCandidate FitLensCandidate(const FitPairs& pairs, const std::vector<bool>& use, double threshold) {
    LensCandidate best;
    double bestRms = std::numeric_limits<double>::infinity();
    for (const LensStage::Form form : {LensStage::Form::Polynomial, LensStage::Form::Fisheye}) {
        std::vector<bool> kept = use;
        LensStage lens;
        if (!FitLensRobust(pairs, kept, form, threshold, lens)) {
            continue;
        }
        const std::vector<double> r = StageResiduals(lens, pairs);
        double sum = 0.0;
        int n = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (kept[i]) {
                sum += r[i] * r[i];
                ++n;
            }
        }
        // Per pair kept; a form that keeps more pairs at the same error wins.
        const double rms = std::sqrt(sum / std::max(1, n)) * std::sqrt(static_cast<double>(r.size()) / std::max(1, n));
        if (rms < bestRms) {
            bestRms = rms;
            best.fitted = true;
            best.lens = lens;
            best.use = kept;
        }
    }
    return best;
}

std::vector<cv::Point2d> RefitLensWithout(const FitPairs& pairs, const LensCandidate& candidate,
                                          const std::vector<bool>& without) {
    const LensStage& lens = candidate.lens;
    LensStage refit;
    std::vector<cv::Point2d> at(pairs.camera.size(), cv::Point2d(kNaN, kNaN));
    if (!FitLensModel(pairs, without, lens.form, refit, &lens, kLeaveOutIterations)) {
        return at;
    }
    if (!lens.grid.empty()) {
        FitResidualGrid(refit, pairs, without, lens.gridColumns, lens.gridRows, candidate.gridSmoothness);
    }
    for (std::size_t i = 0; i < at.size(); ++i) {
        at[i] = StageDisplay(refit, pairs.image, pairs.camera[i]);
    }
    return at;
}

void JudgeLensCandidate(const FitPairs& pairs, LensCandidate& candidate) {
    if (!candidate.fitted) {
        return;
    }
    candidate.region = RegionSize(pairs.display, candidate.use);
    // Without a grid, and with the grids the pairs support; the lens
    // model's refit without each region is shared by all three.
    const int count = static_cast<int>(std::count(candidate.use.begin(), candidate.use.end(), true));
    // Coarse and fine lattices, each smooth and less so.
    const std::vector<GridChoice> grids = {{cv::Size(6, 5), 0.1},
                                           {GridFor(count, 3.0, pairs.image), 0.1},
                                           {GridFor(count, 3.0, pairs.image), 0.01},
                                           {GridFor(count, 1.5, pairs.image), 0.1},
                                           {GridFor(count, 1.5, pairs.image), 0.01}};
    std::vector<std::vector<double>> leftOut(1 + grids.size());
    std::vector<LensStage> stages(1 + grids.size(), candidate.lens);
    for (std::size_t g = 0; g < grids.size(); ++g) {
        FitResidualGrid(stages[g + 1], pairs, candidate.use, grids[g].size.width, grids[g].size.height,
                        grids[g].smoothness);
    }
    for (auto& errors : leftOut) {
        errors.assign(pairs.camera.size(), kNaN);
    }
    LeaveRegionsOut(pairs.display, candidate.use, candidate.region, [&](const std::vector<bool>& without) {
        std::vector<cv::Point2d> at(pairs.camera.size(), cv::Point2d(kNaN, kNaN));
        LensStage refit;
        if (!FitLensModel(pairs, without, candidate.lens.form, refit, &candidate.lens, kLeaveOutIterations)) {
            // Nothing predicts the region: its errors are unbounded in
            // every variant, never left out of the figure.
            for (auto& errors : leftOut) {
                for (std::size_t i = 0; i < at.size(); ++i) {
                    if (candidate.use[i] && !without[i]) {
                        errors[i] = std::numeric_limits<double>::infinity();
                    }
                }
            }
            return at;
        }
        for (std::size_t v = 0; v < stages.size(); ++v) {
            LensStage variant = refit;
            if (v > 0) {
                FitResidualGrid(variant, pairs, without, grids[v - 1].size.width, grids[v - 1].size.height,
                                grids[v - 1].smoothness);
            }
            for (std::size_t i = 0; i < at.size(); ++i) {
                if (candidate.use[i] && !without[i]) {
                    const cv::Point2d p = StageDisplay(variant, pairs.image, pairs.camera[i]);
                    const double e = cv::norm(p - pairs.display[i]);
                    leftOut[v][i] = std::isfinite(e) ? e : std::numeric_limits<double>::infinity();
                }
            }
        }
        // The variants' errors are recorded above; this answer is the plain one's.
        for (std::size_t i = 0; i < at.size(); ++i) {
            at[i] = StageDisplay(refit, pairs.image, pairs.camera[i]);
        }
        return at;
    });
    std::size_t best = 0;
    for (std::size_t v = 1; v < stages.size(); ++v) {
        if (Rms(leftOut[v]) < kGridGain * Rms(leftOut[best])) {
            best = v;
        }
    }
    candidate.lens = stages[best];
    candidate.leftOut = leftOut[best];
    candidate.gridSmoothness = best > 0 ? grids[best - 1].smoothness : 0.0;
}

}  // namespace quarvel::detail
