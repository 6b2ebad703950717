// Fitting a calibration to measured point pairs.
//
// 1. A robust pass (least median of squares) at a few corner magnifications
//    and without barrel finds the gross outliers.
// 2. On the remaining pairs, a dense search over the corner magnification
//    (1 to 3; the residual has narrow valleys in the focal value) with the
//    matrix re-solved at each candidate, then a local refinement.
// 3. A joint Levenberg-Marquardt refinement of focal value and matrix; the
//    pairs are classified again against the refined fit, and 2-3 repeat
//    while the inlier set changes.
// 4. The same without barrel; the barrel stays only where it fits better.
// 5. Residuals, leave-one-out residuals (the refinement redone without each
//    pair) and the trust checks.
// Every residual is measured through the chain (ChainModel, on Model).

#include <quarvel/calibration.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "calibration/chain_model.h"
#include "calibration/expected_error.h"
#include "calibration/lens_choice.h"
#include "calibration/refine.h"
#include "calibration/trust.h"
#include "numeric/homography.h"
#include "numeric/robust.h"

namespace quarvel {
namespace {

using detail::ChainModel;
using detail::FitVector;
using detail::Median;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kSearchSteps = 400;           // magnifications 1.005 ... 3
constexpr double kMagnifications[] = {1.05, 1.15, 1.3, 1.5, 1.8, 2.2, 3.0};  // the robust pass
constexpr int kRefineIterations = 60;
constexpr int kLeaveOneOutIterations = 60;
constexpr int kRegionIterations = 30;  // a refit without a region of the display
// A lens stage is written only where it lowers the expected error over the
// display to this share of the plain fit's, and by this much at least.
constexpr double kLensGain = 0.8;
constexpr double kLensMargin = 0.005;

double KappaOf(double magnification) { return 1.0 - 1.0 / magnification; }

FitVector VectorOf(double kappa, const cv::Matx33d& h) {
    return FitVector(kappa, h(0, 0), h(0, 1), h(0, 2), h(1, 0), h(1, 1), h(1, 2), h(2, 0), h(2, 1));
}

struct Problem {
    std::vector<cv::Point2d> camera;
    std::vector<cv::Point2d> display;
};

// Residuals of every pair under `v`.
std::vector<double> ResidualsOf(const ChainModel& model, const Problem& pr, const FitVector& v, bool barrel,
                                std::vector<cv::Point2d>* fittedOut = nullptr) {
    std::vector<cv::Point2d> fitted;
    model.Correct(model.Params(v, barrel), pr.camera, fitted);
    std::vector<double> r(fitted.size());
    for (std::size_t i = 0; i < fitted.size(); ++i) {
        const double d = std::hypot(fitted[i].x - pr.display[i].x, fitted[i].y - pr.display[i].y);
        r[i] = std::isfinite(d) ? d : std::numeric_limits<double>::infinity();
    }
    if (fittedOut != nullptr) {
        *fittedOut = std::move(fitted);
    }
    return r;
}

double RmsOver(const std::vector<double>& r, const std::vector<bool>& use) {
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (use[i]) {
            sum += r[i] * r[i];
            ++n;
        }
    }
    return n > 0 ? std::sqrt(sum / n) : std::numeric_limits<double>::infinity();
}

// The matrix re-solved for one barrel candidate, least squares on `use`.
bool Candidate(const ChainModel& model, const Problem& pr, double kappa, bool barrel, const std::vector<bool>& use,
               FitVector& v, double& rms) {
    std::vector<cv::Point2d> b;
    model.BarrelOutput(kappa, barrel, pr.camera, b);
    cv::Matx33d h;
    if (!detail::FitHomography(b, pr.display, use, h)) {
        return false;
    }
    v = VectorOf(kappa, h);
    rms = RmsOver(ResidualsOf(model, pr, v, barrel), use);
    return std::isfinite(rms);
}

// Step 1: the robust pass. The inlier flags of the best candidate.
std::vector<bool> RobustInliers(const ChainModel& model, const Problem& pr, bool barrel, double threshold) {
    double best = std::numeric_limits<double>::infinity();
    std::vector<double> bestResiduals;
    std::vector<double> kappas = {0.0};
    if (barrel) {
        for (const double m : kMagnifications) {
            kappas.push_back(KappaOf(m));
        }
    }
    for (const double kappa : kappas) {
        const bool withBarrel = kappa > 0;
        std::vector<cv::Point2d> b;
        model.BarrelOutput(kappa, withBarrel, pr.camera, b);
        cv::Matx33d h;
        if (!detail::FitHomographyRobust(b, pr.display, h)) {
            continue;
        }
        const std::vector<double> r = ResidualsOf(model, pr, VectorOf(kappa, h), withBarrel);
        const double median = Median(r);
        if (median < best) {
            best = median;
            bestResiduals = r;
        }
    }
    std::vector<bool> use(pr.camera.size(), true);
    if (bestResiduals.empty()) {
        return use;
    }
    const double limit = std::max(threshold, detail::RobustLimit(4.0, best));
    for (std::size_t i = 0; i < use.size(); ++i) {
        use[i] = bestResiduals[i] <= limit;
    }
    return use;
}

// Steps 2-3 for one model (with or without barrel) on a fixed inlier set.
bool FitOn(const ChainModel& model, const Problem& pr, bool barrel, const std::vector<bool>& use, FitVector& out) {
    FitVector best;
    double bestRms = std::numeric_limits<double>::infinity();
    double bestKappa = 0.0;
    if (!barrel) {
        if (!Candidate(model, pr, 0.0, false, use, best, bestRms)) {
            return false;
        }
    } else {
        const double step = (detail::kMaxKappa - KappaOf(1.005)) / kSearchSteps;
        for (int i = 0; i <= kSearchSteps; ++i) {
            const double kappa = KappaOf(1.005) + step * i;
            FitVector v;
            double rms = 0;
            if (Candidate(model, pr, kappa, true, use, v, rms) && rms < bestRms) {
                best = v;
                bestRms = rms;
                bestKappa = kappa;
            }
        }
        if (!std::isfinite(bestRms)) {
            return false;
        }
        // Golden-section search in the bracket around the best grid point.
        double lo = std::max(1e-6, bestKappa - step);
        double hi = std::min(detail::kMaxKappa, bestKappa + step);
        const double g = (std::sqrt(5.0) - 1) / 2;
        for (int i = 0; i < 24; ++i) {
            const double a = hi - g * (hi - lo);
            const double b = lo + g * (hi - lo);
            FitVector va;
            FitVector vb;
            double ra = std::numeric_limits<double>::infinity();
            double rb = ra;
            Candidate(model, pr, a, true, use, va, ra);
            Candidate(model, pr, b, true, use, vb, rb);
            if (ra < bestRms) {
                best = va;
                bestRms = ra;
            }
            if (rb < bestRms) {
                best = vb;
                bestRms = rb;
            }
            (ra < rb ? hi : lo) = ra < rb ? b : a;
        }
    }
    const FitVector refined = detail::Refine(model, best, barrel, pr.camera, pr.display, use, kRefineIterations);
    const double refinedRms = RmsOver(ResidualsOf(model, pr, refined, barrel), use);
    out = refinedRms <= bestRms ? refined : best;
    return true;
}

// Steps 2-3 with re-classification until the inlier set settles.
bool FitModel(const ChainModel& model, const Problem& pr, bool barrel, std::vector<bool>& use, double threshold,
              FitVector& out) {
    const detail::InlierRule rule{threshold, 4.0, 4};
    return detail::SettleInliers(use, 4, rule, [&](const std::vector<bool>& on, std::vector<double>& residuals) {
        if (!FitOn(model, pr, barrel, on, out)) {
            return false;
        }
        residuals = ResidualsOf(model, pr, out, barrel);
        return true;
    });
}

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

}  // namespace

FitResult FitCalibration(const std::vector<PointPair>& pairs, const FitOptions& options) {
    FitResult result;
    try {
        if (!ValidInput(pairs, options, result.reason)) {
            return result;
        }
        Problem pr;
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

        std::vector<bool> use = RobustInliers(model, pr, options.barrel, threshold);
        FitVector flatFit;
        std::vector<bool> flatUse = use;
        const bool flatOk = FitModel(model, pr, false, flatUse, threshold, flatFit);
        FitVector barrelFit;
        std::vector<bool> barrelUse = use;
        const bool barrelOk = options.barrel && FitModel(model, pr, true, barrelUse, threshold, barrelFit);
        // The barrel stays only where it fits clearly better than the matrix
        // alone on the same pairs (a poorer model also accepts more pairs
        // as inliers, so its own inlier set is no fair comparison).
        bool barrel = barrelOk;
        if (barrelOk) {
            FitVector flatSame;
            if (FitOn(model, pr, false, barrelUse, flatSame)) {
                const double flatRms = RmsOver(ResidualsOf(model, pr, flatSame, false), barrelUse);
                const double barrelRms = RmsOver(ResidualsOf(model, pr, barrelFit, true), barrelUse);
                barrel = barrelRms < flatRms * 0.98 - 1e-3;
            }
        }
        if (!barrel && !flatOk) {
            result.reason = "fewer than 4 usable pairs after rejecting outliers";
            return result;
        }
        const FitVector fit = barrel ? barrelFit : flatFit;
        use = barrel ? barrelUse : flatUse;
        result.params = model.Params(fit, barrel);

        // A lens stage, where the pairs support one: its own inlier set is
        // the reference every figure is judged on (a plainer model's misfit
        // at the edges is no outlier), and it is written only where it lowers
        // the expected error over the display measurably.
        const detail::LensPairs lensPairs{pr.camera, pr.display, cv::Size(options.imageWidth, options.imageHeight),
                                          cv::Size(options.displayWidth, options.displayHeight)};
        detail::LensCandidate lens;
        if (detail::SupportsLensStage(lensPairs, use)) {
            lens = detail::FitLensCandidate(lensPairs, use, threshold);
        }
        const std::vector<bool> reference = lens.fitted ? lens.use : use;
        const double region = detail::RegionSize(pr.display, reference);
        const std::vector<double> plainLeftOut =
            detail::LeaveRegionsOut(pr.display, reference, region, [&](const std::vector<bool>& without) {
                // The plain fit's own pairs without the region: pairs it
                // rejected (where it cannot follow the lens) count as it
                // predicts them, never as fitted.
                std::vector<bool> fitted = without;
                for (std::size_t i = 0; i < fitted.size(); ++i) {
                    fitted[i] = fitted[i] && use[i];
                }
                const FitVector v = detail::Refine(model, fit, barrel, pr.camera, pr.display, fitted,
                                                   kRegionIterations);
                std::vector<cv::Point2d> at;
                model.Correct(model.Params(v, barrel), pr.camera, at);
                return at;
            });
        // Where the camera sees the display: by the best model at hand (the
        // lens model where one was fitted, used or not), so that a plainer
        // fit's misfit at the edges cannot hide them.
        CalibrationParams seeing = result.params;
        if (lens.fitted) {
            seeing.lens = lens.lens;
        }
        const Model seeingModel = model.ModelOf(seeing);
        const auto seen = [&seeingModel, &options](const cv::Point2d& d) {
            const cv::Point2d c = seeingModel.InvertPoint(d);
            return c.x >= -0.5 && c.y >= -0.5 && c.x <= options.imageWidth - 0.5 && c.y <= options.imageHeight - 0.5;
        };
        detail::DisplayError expected =
            detail::ExpectedOverDisplay(pr.display, reference, plainLeftOut, lensPairs.screen, region, seen);
        bool withLens = false;
        if (options.lens && lens.fitted) {
            detail::JudgeLensCandidate(lensPairs, lens);
            CalibrationParams staged = result.params;
            staged.lens = lens.lens;
            const Model stagedModel = model.ModelOf(staged);
            const detail::DisplayError lensExpected =
                detail::ExpectedOverDisplay(pr.display, lens.use, lens.leftOut, lensPairs.screen, lens.region, seen);
            withLens = stagedModel.hasLensStage() && lensExpected.rms < kLensGain * expected.rms - kLensMargin;
            if (withLens) {
                result.params = staged;
                use = lens.use;
                expected = lensExpected;
            }
        }
        result.expectedRms = expected.rms;
        result.expectedMax = expected.max;
        result.expectedError = expected.error;
        result.coverage = expected.coverage;
        result.model = barrel ? "barrel and matrix" : "matrix alone";
        if (withLens) {
            result.model = std::string(lens.lens.form == LensStage::Form::Fisheye ? "fisheye" : "polynomial") +
                           " lens stage" + (lens.lens.grid.empty() ? "" : " with a residual grid") + " in front of the " +
                           result.model;
        }

        std::vector<cv::Point2d> fitted;
        std::vector<double> r;
        if (withLens) {
            // Through the chain a host runs: the stage's tables, the barrel
            // and matrix, as the file's values give them.
            const Model final = model.ModelOf(result.params);
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                fitted.push_back(final.CorrectPointSubpixel(pr.camera[i]));
                const double d = std::hypot(fitted[i].x - pr.display[i].x, fitted[i].y - pr.display[i].y);
                r.push_back(std::isfinite(d) ? d : std::numeric_limits<double>::infinity());
            }
        } else {
            r = ResidualsOf(model, pr, fit, barrel, &fitted);
        }
        result.pairs.resize(pairs.size());
        result.used = static_cast<int>(std::count(use.begin(), use.end(), true));
        double sum = 0;
        double looSum = 0;
        int looCount = 0;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            PairFit& p = result.pairs[i];
            p.fitted = fitted[i];
            p.residual = r[i];
            p.inlier = use[i];
            p.leaveOneOut = r[i];
            if (use[i]) {
                sum += r[i] * r[i];
                result.max = std::max(result.max, r[i]);
                if (result.used > 4) {
                    std::vector<bool> without = use;
                    without[i] = false;
                    if (withLens) {
                        const cv::Point2d at = detail::RefitLensWithout(lensPairs, lens, without)[i];
                        p.leaveOneOut = cv::norm(at - pr.display[i]);
                    } else {
                        const FitVector v = detail::Refine(model, fit, barrel, pr.camera, pr.display, without,
                                                           kLeaveOneOutIterations);
                        p.leaveOneOut = ResidualsOf(model, pr, v, barrel)[i];
                    }
                    looSum += p.leaveOneOut * p.leaveOneOut;
                    ++looCount;
                } else {
                    p.leaveOneOut = kNaN;  // four pairs fit exactly: nothing is left to predict one
                }
            }
        }
        result.rms = result.used > 0 ? std::sqrt(sum / result.used) : 0.0;
        result.leaveOneOutRms = looCount > 0 ? std::sqrt(looSum / looCount) : kNaN;

        if (result.used < 4) {
            result.reason = "fewer than 4 usable pairs after rejecting outliers";
            return result;
        }
        if (!detail::SpansAPlane(pr.display, use) || !detail::SpansAPlane(pr.camera, use)) {
            result.reason = "the usable targets all lie on one line";
            return result;
        }
        result.reason = detail::Untrustworthy(model, result.params);
        result.ok = result.reason.empty();
        return result;
    } catch (const std::exception& e) {
        result.ok = false;
        result.reason = std::string("the fit failed: ") + e.what();
        return result;
    } catch (...) {
        result.ok = false;
        result.reason = "the fit failed";
        return result;
    }
}

}  // namespace quarvel
