#include "calibration/plain_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "calibration/refine.h"
#include "numeric/homography.h"
#include "numeric/robust.h"

namespace quarvel::detail {
namespace {

constexpr int kSearchSteps = 400;           // magnifications 1.005 ... 3
constexpr double kMagnifications[] = {1.05, 1.15, 1.3, 1.5, 1.8, 2.2, 3.0};  // the robust pass
constexpr int kRefineIterations = 60;

double KappaOf(double magnification) { return 1.0 - 1.0 / magnification; }

FitVector VectorOf(double kappa, const cv::Matx33d& h) {
    return FitVector(kappa, h(0, 0), h(0, 1), h(0, 2), h(1, 0), h(1, 1), h(1, 2), h(2, 0), h(2, 1));
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
bool Candidate(const ChainModel& model, const FitPairs& pr, double kappa, bool barrel, const std::vector<bool>& use,
               FitVector& v, double& rms) {
    std::vector<cv::Point2d> b;
    model.BarrelOutput(kappa, barrel, pr.camera, b);
    cv::Matx33d h;
    if (!FitHomography(b, pr.display, use, h)) {
        return false;
    }
    v = VectorOf(kappa, h);
    rms = RmsOver(ResidualsOf(model, pr, v, barrel), use);
    return std::isfinite(rms);
}

// Step 1: the robust pass. The inlier flags of the best candidate.
std::vector<bool> RobustInliers(const ChainModel& model, const FitPairs& pr, bool barrel, double threshold) {
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
        if (!FitHomographyRobust(b, pr.display, h)) {
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
    const double limit = std::max(threshold, RobustLimit(4.0, best));
    for (std::size_t i = 0; i < use.size(); ++i) {
        use[i] = bestResiduals[i] <= limit;
    }
    return use;
}

// Step 2's search over the corner magnification: the best candidate on a
// grid, then a golden-section search in the bracket around it.
bool SearchBarrel(const ChainModel& model, const FitPairs& pr, const std::vector<bool>& use, FitVector& best,
                  double& bestRms) {
    double bestKappa = 0.0;
    const double step = (kMaxKappa - KappaOf(1.005)) / kSearchSteps;
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
    double lo = std::max(1e-6, bestKappa - step);
    double hi = std::min(kMaxKappa, bestKappa + step);
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
    return true;
}

// Steps 2-3 for one model (with or without barrel) on a fixed inlier set.
bool FitOn(const ChainModel& model, const FitPairs& pr, bool barrel, const std::vector<bool>& use, FitVector& out) {
    FitVector best;
    double bestRms = std::numeric_limits<double>::infinity();
    const bool found = barrel ? SearchBarrel(model, pr, use, best, bestRms)
                              : Candidate(model, pr, 0.0, false, use, best, bestRms);
    if (!found) {
        return false;
    }
    const FitVector refined = Refine(model, best, barrel, pr.camera, pr.display, use, kRefineIterations);
    const double refinedRms = RmsOver(ResidualsOf(model, pr, refined, barrel), use);
    out = refinedRms <= bestRms ? refined : best;
    return true;
}

// Steps 2-3 with re-classification until the inlier set settles.
bool FitModel(const ChainModel& model, const FitPairs& pr, bool barrel, std::vector<bool>& use, double threshold,
              FitVector& out) {
    const InlierRule rule{threshold, 4.0, 4};
    return SettleInliers(use, 4, rule, [&](const std::vector<bool>& on, std::vector<double>& residuals) {
        if (!FitOn(model, pr, barrel, on, out)) {
            return false;
        }
        residuals = ResidualsOf(model, pr, out, barrel);
        return true;
    });
}

}  // namespace

std::vector<double> ResidualsOf(const ChainModel& model, const FitPairs& pr, const FitVector& v, bool barrel,
                                std::vector<cv::Point2d>* fittedOut) {
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

PlainFit FitPlainModel(const ChainModel& model, const FitPairs& pr, bool withBarrel, double threshold) {
    const std::vector<bool> robust = RobustInliers(model, pr, withBarrel, threshold);
    FitVector flatFit;
    std::vector<bool> flatUse = robust;
    const bool flatOk = FitModel(model, pr, false, flatUse, threshold, flatFit);
    FitVector barrelFit;
    std::vector<bool> barrelUse = robust;
    const bool barrelOk = withBarrel && FitModel(model, pr, true, barrelUse, threshold, barrelFit);
    // The barrel stays only where it fits clearly better than the matrix
    // alone on the same pairs (a poorer model also accepts more pairs as
    // inliers, so its own inlier set is no fair comparison).
    bool barrel = barrelOk;
    if (barrelOk) {
        FitVector flatSame;
        if (FitOn(model, pr, false, barrelUse, flatSame)) {
            const double flatRms = RmsOver(ResidualsOf(model, pr, flatSame, false), barrelUse);
            const double barrelRms = RmsOver(ResidualsOf(model, pr, barrelFit, true), barrelUse);
            barrel = barrelRms < flatRms * 0.98 - 1e-3;
        }
    }
    PlainFit out;
    out.ok = barrel || flatOk;
    out.barrel = barrel;
    out.fit = barrel ? barrelFit : flatFit;
    out.use = barrel ? barrelUse : flatUse;
    return out;
}

}  // namespace quarvel::detail
