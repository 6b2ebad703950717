#include "calibration/refine.h"

#include <algorithm>
#include <cmath>

#include <opencv2/calib3d.hpp>

namespace quarvel::detail {
namespace {

// Finite-difference steps, one per unknown, sized so that each moves a
// fitted position by a few hundredths of a pixel: far above the chain's
// float rounding (about 1e-4 px), small against any curvature.
constexpr double kSteps[9] = {1e-5, 1e-5, 1e-5, 1e-2, 1e-5, 1e-5, 1e-2, 1e-8, 1e-8};
constexpr double kBadResidual = 1e4;  // where the chain gives no finite position

class Residuals : public cv::LMSolver::Callback {
public:
    Residuals(ChainModel* model, const FitVector& start, bool barrel, const std::vector<cv::Point2d>& camera,
              const std::vector<cv::Point2d>& display, const std::vector<bool>& use)
        : model_(*model), start_(start), barrel_(barrel) {
        for (std::size_t i = 0; i < camera.size(); ++i) {
            if (use[i]) {
                camera_.push_back(camera[i]);
                target_.push_back(display[i]);
            }
        }
    }

    // The unknowns the solver moves: all nine, or the eight matrix ones.
    int Offset() const { return barrel_ ? 0 : 1; }

    FitVector Full(const double* p) const {
        FitVector v = start_;
        for (int j = Offset(); j < 9; ++j) {
            v[j] = p[j - Offset()];
        }
        if (barrel_) {
            v[0] = std::clamp(v[0], 1e-7, kMaxKappa);
        }
        return v;
    }

    void Evaluate(const FitVector& v, double* err) const {
        model_.Correct(model_.Params(v, barrel_), camera_, fitted_);
        for (std::size_t i = 0; i < camera_.size(); ++i) {
            const double dx = fitted_[i].x - target_[i].x;
            const double dy = fitted_[i].y - target_[i].y;
            err[2 * i] = std::isfinite(dx) ? dx : kBadResidual;
            err[2 * i + 1] = std::isfinite(dy) ? dy : kBadResidual;
        }
    }

    bool compute(cv::InputArray param, cv::OutputArray err, cv::OutputArray jacobian) const override {
        const cv::Mat p = param.getMat();
        const int unknowns = 9 - Offset();
        const int rows = static_cast<int>(2 * camera_.size());
        err.create(rows, 1, CV_64F);
        cv::Mat e = err.getMat();
        const FitVector v = Full(p.ptr<double>());
        Evaluate(v, e.ptr<double>());
        if (jacobian.needed()) {
            jacobian.create(rows, unknowns, CV_64F);
            cv::Mat j = jacobian.getMat();
            std::vector<double> plus(static_cast<std::size_t>(rows));
            std::vector<double> minus(static_cast<std::size_t>(rows));
            for (int k = 0; k < unknowns; ++k) {
                const int index = k + Offset();
                FitVector up = v;
                FitVector down = v;
                up[index] += kSteps[index];
                down[index] -= kSteps[index];
                Evaluate(up, plus.data());
                Evaluate(down, minus.data());
                for (int r = 0; r < rows; ++r) {
                    j.at<double>(r, k) = (plus[static_cast<std::size_t>(r)] - minus[static_cast<std::size_t>(r)]) /
                                         (2.0 * kSteps[index]);
                }
            }
        }
        return true;
    }

private:
    ChainModel& model_;
    FitVector start_;
    bool barrel_;
    std::vector<cv::Point2d> camera_;
    std::vector<cv::Point2d> target_;
    mutable std::vector<cv::Point2d> fitted_;
};

}  // namespace

FitVector Refine(ChainModel& model, const FitVector& start, bool barrel, const std::vector<cv::Point2d>& camera,
                 const std::vector<cv::Point2d>& display, const std::vector<bool>& use, int maxIterations) {
    const cv::Ptr<Residuals> residuals = cv::makePtr<Residuals>(&model, start, barrel, camera, display, use);
    const int unknowns = 9 - residuals->Offset();
    cv::Mat p(unknowns, 1, CV_64F);
    for (int k = 0; k < unknowns; ++k) {
        p.at<double>(k) = start[k + residuals->Offset()];
    }
    const cv::Ptr<cv::LMSolver> solver = cv::LMSolver::create(residuals, maxIterations);
    solver->run(p);
    return residuals->Full(p.ptr<double>());
}

}  // namespace quarvel::detail
