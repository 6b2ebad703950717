// Fitting a calibration to measured point pairs, in four steps:
//
// 1. The plain model: the barrel and matrix with their inlier set
//    (plain_fit.h).
// 2. The lens stage: where the pairs support one, a lens model fitted with
//    its own inlier set; both it and the plain model are judged by the
//    error expected over the whole display (each region of the display
//    left out in turn and predicted by the fit made without it), and the
//    stage is kept only where it lowers that error measurably.
// 3. Measuring the pairs: residuals through the chain a host runs, and
//    leave-one-out residuals (the fit redone without each pair).
// 4. The verdict: enough pairs spanning a plane, and nothing Diagnose finds
//    over the camera image.

#include <quarvel/calibration.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "calibration/chain_model.h"
#include "calibration/expected_error.h"
#include "calibration/lens_choice.h"
#include "calibration/plain_fit.h"
#include "calibration/refine.h"
#include "calibration/trust.h"

namespace quarvel {
namespace {

using detail::ChainModel;
using detail::FitVector;
using detail::FitPairs;
using detail::PlainFit;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kLeaveOneOutIterations = 60;
constexpr int kRegionIterations = 30;  // a refit without a region of the display
// A lens stage is written only where it lowers the expected error over the
// display to this share of the plain fit's, and by this much at least.
constexpr double kLensGain = 0.8;
constexpr double kLensMargin = 0.005;

bool ValidInput(const std::vector<PointPair>& pairs, const FitOptions& o, std::string& reason) {
    if (o.imageWidth <= 0 || o.imageHeight <= 0 || o.displayWidth <= 0 || o.displayHeight <= 0) {
        reason = "the image and display sizes must be positive";
        return false;
    }
    for (const PointPair& p : pairs) {
        if (!std::isfinite(p.camera.x) || !std::isfinite(p.camera.y) || !std::isfinite(p.display.x) ||
            !std::isfinite(p.display.y)) {
            reason = "a point is not finite";
            return false;
        }
    }
    if (pairs.size() < 4) {
        reason = "fewer than 4 pairs (" + std::to_string(pairs.size()) + ")";
        return false;
    }
    return true;
}

// What step 2 settled: the parameters, their inliers and the expected error.
struct Chosen {
    CalibrationParams params;
    std::vector<bool> use;
    detail::DisplayError expected;
    bool withLens = false;
    detail::LensCandidate lens;
};

// The plain fit's error expected over the display: its own pairs without
// each region, refitted (pairs it rejected, where it cannot follow the
// lens, count as it predicts them, never as fitted).
std::vector<double> PlainLeftOut(const ChainModel& model, const FitPairs& pr, const PlainFit& plain,
                                 const std::vector<bool>& reference, double region) {
    return detail::LeaveRegionsOut(pr.display, reference, region, [&](const std::vector<bool>& without) {
        std::vector<bool> fitted = without;
        for (std::size_t i = 0; i < fitted.size(); ++i) {
            fitted[i] = fitted[i] && plain.use[i];
        }
        const FitVector v =
            detail::Refine(model, plain.fit, plain.barrel, pr.camera, pr.display, fitted, kRegionIterations);
        std::vector<cv::Point2d> at;
        model.Correct(model.Params(v, plain.barrel), pr.camera, at);
        return at;
    });
}

// Step 2. The lens candidate's own inlier set is the reference every
// figure is judged on (a plainer model's misfit at the edges is no
// outlier).
// The area of the display the camera sees, by `plain`: its image's border
// mapped to the display and cut to it (a camera of a wall sees a part).
double SeenArea(const Model& plain, const FitPairs& pr) {
    constexpr int kSteps = 16;  // points along each side
    std::vector<cv::Point2f> outline;
    const double w = pr.image.width - 0.5;
    const double h = pr.image.height - 0.5;
    for (int side = 0; side < 4; ++side) {
        for (int i = 0; i < kSteps; ++i) {
            const double s = static_cast<double>(i) / kSteps;
            const cv::Point2d c = side == 0   ? cv::Point2d(-0.5 + s * (w + 0.5), -0.5)
                                  : side == 1 ? cv::Point2d(w, -0.5 + s * (h + 0.5))
                                  : side == 2 ? cv::Point2d(w - s * (w + 0.5), h)
                                              : cv::Point2d(-0.5, h - s * (h + 0.5));
            const cv::Point2d d = plain.CorrectPointSubpixel(c);
            if (!std::isfinite(d.x) || !std::isfinite(d.y)) {
                return 0.0;  // unknown: the whole display
            }
            outline.emplace_back(static_cast<float>(std::clamp(d.x, 0.0, static_cast<double>(pr.screen.width))),
                                 static_cast<float>(std::clamp(d.y, 0.0, static_cast<double>(pr.screen.height))));
        }
    }
    return cv::contourArea(outline);
}

Chosen ChooseLensStage(const ChainModel& model, const FitPairs& pr, const PlainFit& plain, const FitOptions& options,
                       double threshold) {
    Chosen out;
    out.params = model.Params(plain.fit, plain.barrel);
    out.use = plain.use;
    if (detail::SupportsLensStage(pr, plain.use, SeenArea(model.ModelOf(out.params), pr))) {
        out.lens = detail::FitLensCandidate(pr, plain.use, threshold);
    }
    const std::vector<bool> reference = out.lens.fitted ? out.lens.use : plain.use;
    const double region = detail::RegionSize(pr.display, reference);
    // Where the camera sees the display: by the best model at hand (the
    // lens model where one was fitted, used or not), so that a plainer
    // fit's misfit at the edges cannot hide them.
    CalibrationParams seeing = out.params;
    if (out.lens.fitted) {
        seeing.lens = out.lens.lens;
    }
    const Model seeingModel = model.ModelOf(seeing);
    const auto seen = [&seeingModel, &options](const cv::Point2d& d) {
        const cv::Point2d c = seeingModel.InvertPoint(d);
        return c.x >= -0.5 && c.y >= -0.5 && c.x <= options.imageWidth - 0.5 && c.y <= options.imageHeight - 0.5;
    };
    out.expected = detail::ExpectedOverDisplay(pr.display, reference, PlainLeftOut(model, pr, plain, reference, region),
                                               pr.screen, region, seen);
    if (!options.lens || !out.lens.fitted) {
        return out;
    }
    detail::JudgeLensCandidate(pr, out.lens);
    CalibrationParams staged = out.params;
    staged.lens = out.lens.lens;
    const detail::DisplayError lensExpected = detail::ExpectedOverDisplay(
        pr.display, out.lens.use, out.lens.leftOut, pr.screen, out.lens.region, seen);
    out.withLens =
        model.ModelOf(staged).hasLensStage() && lensExpected.rms < kLensGain * out.expected.rms - kLensMargin;
    if (out.withLens) {
        out.params = staged;
        out.use = out.lens.use;
        out.expected = lensExpected;
    }
    return out;
}

std::string ModelName(const PlainFit& plain, const Chosen& chosen) {
    const std::string plainName = plain.barrel ? "barrel and matrix" : "matrix alone";
    if (!chosen.withLens) {
        return plainName;
    }
    const LensStage& lens = chosen.lens.lens;
    return std::string(lens.form == LensStage::Form::Fisheye ? "fisheye" : "polynomial") + " lens stage" +
           (lens.grid.empty() ? "" : " with a residual grid") + " in front of the " + plainName;
}

// Step 3: every pair through the chosen chain, and each inlier predicted by
// the fit made without it.
void MeasurePairs(const ChainModel& model, const FitPairs& pr, const PlainFit& plain, const Chosen& chosen,
                  FitResult& result) {
    const std::size_t n = pr.camera.size();
    std::vector<cv::Point2d> fitted;
    std::vector<double> r;
    if (chosen.withLens) {
        // Through the chain a host runs: the stage's tables, the barrel and
        // matrix, as the file's values give them.
        const Model final = model.ModelOf(chosen.params);
        for (std::size_t i = 0; i < n; ++i) {
            fitted.push_back(final.CorrectPointSubpixel(pr.camera[i]));
            const double d = std::hypot(fitted[i].x - pr.display[i].x, fitted[i].y - pr.display[i].y);
            r.push_back(std::isfinite(d) ? d : std::numeric_limits<double>::infinity());
        }
    } else {
        r = detail::ResidualsOf(model, pr, plain.fit, plain.barrel, &fitted);
    }
    result.pairs.resize(n);
    result.used = static_cast<int>(std::count(chosen.use.begin(), chosen.use.end(), true));
    double sum = 0;
    double looSum = 0;
    int looCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        PairFit& p = result.pairs[i];
        p.fitted = fitted[i];
        p.residual = r[i];
        p.inlier = chosen.use[i];
        p.leaveOneOut = r[i];
        if (!chosen.use[i]) {
            continue;
        }
        sum += r[i] * r[i];
        result.max = std::max(result.max, r[i]);
        if (result.used <= 4) {
            p.leaveOneOut = kNaN;  // four pairs fit exactly: nothing is left to predict one
            continue;
        }
        std::vector<bool> without = chosen.use;
        without[i] = false;
        if (chosen.withLens) {
            const cv::Point2d at = detail::RefitLensWithout(pr, chosen.lens, without)[i];
            p.leaveOneOut = cv::norm(at - pr.display[i]);
        } else {
            const FitVector v = detail::Refine(model, plain.fit, plain.barrel, pr.camera, pr.display, without,
                                               kLeaveOneOutIterations);
            p.leaveOneOut = detail::ResidualsOf(model, pr, v, plain.barrel)[i];
        }
        looSum += p.leaveOneOut * p.leaveOneOut;
        ++looCount;
    }
    result.rms = result.used > 0 ? std::sqrt(sum / result.used) : 0.0;
    result.leaveOneOutRms = looCount > 0 ? std::sqrt(looSum / looCount) : kNaN;
}

// Step 4: why the fit cannot be trusted, or an empty string.
std::string Verdict(const ChainModel& model, const FitPairs& pr, const FitResult& result,
                    const std::vector<bool>& use) {
    if (result.used < 4) {
        return "fewer than 4 usable pairs after rejecting outliers";
    }
    if (!detail::SpansAPlane(pr.display, use) || !detail::SpansAPlane(pr.camera, use)) {
        return "the usable targets all lie on one line";
    }
    return detail::Untrustworthy(model, result.params);
}

FitResult Fit(const std::vector<PointPair>& pairs, const FitOptions& options) {
    FitResult result;
    if (!ValidInput(pairs, options, result.reason)) {
        return result;
    }
    FitPairs pr;
    pr.image = cv::Size(options.imageWidth, options.imageHeight);
    pr.screen = cv::Size(options.displayWidth, options.displayHeight);
    for (const PointPair& p : pairs) {
        pr.camera.push_back(p.camera);
        pr.display.push_back(p.display);
    }
    const std::vector<bool> all(pairs.size(), true);
    if (!detail::SpansAPlane(pr.display, all) || !detail::SpansAPlane(pr.camera, all)) {
        result.reason = "the targets (or the camera points) all lie on one line";
        return result;
    }
    const ChainModel model(options);
    const double threshold = options.outlierPixels > 0 ? options.outlierPixels : 3.0;
    const PlainFit plain = detail::FitPlainModel(model, pr, options.barrel, threshold);
    if (!plain.ok) {
        result.reason = "fewer than 4 usable pairs after rejecting outliers";
        return result;
    }
    const Chosen chosen = ChooseLensStage(model, pr, plain, options, threshold);
    result.params = chosen.params;
    result.model = ModelName(plain, chosen);
    result.expectedRms = chosen.expected.rms;
    result.expectedMax = chosen.expected.max;
    result.expectedError = chosen.expected.error;
    result.coverage = chosen.expected.coverage;
    MeasurePairs(model, pr, plain, chosen, result);
    result.reason = Verdict(model, pr, result, chosen.use);
    result.ok = result.reason.empty();
    return result;
}

}  // namespace

FitResult FitCalibration(const std::vector<PointPair>& pairs, const FitOptions& options) {
    try {
        return Fit(pairs, options);
    } catch (const std::exception& e) {
        FitResult result;
        result.reason = std::string("the fit failed: ") + e.what();
        return result;
    } catch (...) {
        FitResult result;
        result.reason = "the fit failed";
        return result;
    }
}

}  // namespace quarvel
