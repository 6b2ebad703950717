// Joint refinement of the focal value and the matrix: Levenberg-Marquardt
// with Nielsen-style damping (the damping halves after a step that
// reduced the sum of squares as predicted, grows by a factor from 2 to 10
// after one that did not), on central-difference Jacobians. The normal
// equations are 9 x 9 (or 8 x 8) and symmetric positive definite once
// damped: a Cholesky factorisation solves them.

#include "calibration/refine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace quarvel::detail {
namespace {

// Finite-difference steps, one per unknown, sized so that each moves a
// fitted position by a few hundredths of a pixel: far above the chain's
// float rounding (about 1e-4 px), small against any curvature.
constexpr double kSteps[9] = {1e-5, 1e-5, 1e-5, 1e-2, 1e-5, 1e-5, 1e-2, 1e-8, 1e-8};
constexpr double kBadResidual = 1e4;  // where the chain gives no finite position
constexpr int kMaxUnknowns = 9;

using Square = cv::Matx<double, kMaxUnknowns, kMaxUnknowns>;
using Column = cv::Vec<double, kMaxUnknowns>;

// x = M^-1 b for the leading n x n block of a symmetric positive definite
// M, by Cholesky. False when M is not (numerically) positive definite.
bool SolveSpd(const Square& m, const Column& b, int n, Column& x) {
    Square l = Square::zeros();
    for (int j = 0; j < n; ++j) {
        double diagonal = m(j, j);
        for (int k = 0; k < j; ++k) {
            diagonal -= l(j, k) * l(j, k);
        }
        if (!(diagonal > 0) || !std::isfinite(diagonal)) {
            return false;
        }
        l(j, j) = std::sqrt(diagonal);
        for (int i = j + 1; i < n; ++i) {
            double sum = m(i, j);
            for (int k = 0; k < j; ++k) {
                sum -= l(i, k) * l(j, k);
            }
            l(i, j) = sum / l(j, j);
        }
    }
    Column y;
    for (int i = 0; i < n; ++i) {
        double sum = b[i];
        for (int k = 0; k < i; ++k) {
            sum -= l(i, k) * y[k];
        }
        y[i] = sum / l(i, i);
    }
    x = Column::zeros();
    for (int i = n - 1; i >= 0; --i) {
        double sum = y[i];
        for (int k = i + 1; k < n; ++k) {
            sum -= l(k, i) * x[k];
        }
        x[i] = sum / l(i, i);
    }
    return true;
}

// The same for any symmetric matrix, through the SVD (the pseudo-inverse)
// where Cholesky fails.
Column Solve(const Square& m, const Column& b, int n) {
    Column x;
    if (SolveSpd(m, b, n, x)) {
        return x;
    }
    const cv::Mat block = cv::Mat(m)(cv::Rect(0, 0, n, n));
    const cv::Mat rhs = cv::Mat(b).rowRange(0, n);
    cv::Mat solution;
    cv::solve(block, rhs, solution, cv::DECOMP_SVD);
    x = Column::zeros();
    for (int i = 0; i < n; ++i) {
        x[i] = solution.at<double>(i);
    }
    return x;
}

class Problem {
public:
    Problem(const ChainModel& model, const FitVector& start, bool barrel, const std::vector<cv::Point2d>& camera,
            const std::vector<cv::Point2d>& display, const std::vector<bool>& use)
        : model_(model), start_(start), barrel_(barrel) {
        for (std::size_t i = 0; i < camera.size(); ++i) {
            if (use[i]) {
                camera_.push_back(camera[i]);
                target_.push_back(display[i]);
            }
        }
    }

    // The unknowns moved: all nine, or the eight matrix ones.
    int offset() const { return barrel_ ? 0 : 1; }
    int unknowns() const { return kMaxUnknowns - offset(); }
    int rows() const { return static_cast<int>(2 * camera_.size()); }

    FitVector Full(const Column& p) const {
        FitVector v = start_;
        for (int j = offset(); j < kMaxUnknowns; ++j) {
            v[j] = p[j - offset()];
        }
        if (barrel_) {
            v[0] = std::clamp(v[0], 1e-7, kMaxKappa);
        }
        return v;
    }

    Column Packed(const FitVector& v) const {
        Column p = Column::zeros();
        for (int j = offset(); j < kMaxUnknowns; ++j) {
            p[j - offset()] = v[j];
        }
        return p;
    }

    // Whether two fit vectors give the same parameter floats: the chain,
    // and so every residual, cannot tell them apart.
    bool SameFloats(const Column& a, const Column& b) const {
        const CalibrationParams pa = model_.Params(Full(a), barrel_);
        const CalibrationParams pb = model_.Params(Full(b), barrel_);
        return pa.focalZ == pb.focalZ && pa.matrix == pb.matrix;
    }

    void Residuals(const FitVector& v, std::vector<double>& err) const {
        err.resize(static_cast<std::size_t>(rows()));
        model_.Correct(model_.Params(v, barrel_), camera_, fitted_);
        for (std::size_t i = 0; i < camera_.size(); ++i) {
            const double dx = fitted_[i].x - target_[i].x;
            const double dy = fitted_[i].y - target_[i].y;
            err[2 * i] = std::isfinite(dx) ? dx : kBadResidual;
            err[2 * i + 1] = std::isfinite(dy) ? dy : kBadResidual;
        }
    }

    // Residuals at p and the Jacobian's columns, by central differences.
    void Jacobian(const Column& p, std::vector<double>& err, std::vector<std::vector<double>>& jacobian) const {
        const FitVector v = Full(p);
        Residuals(v, err);
        const int n = unknowns();
        jacobian.resize(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            const int index = k + offset();
            FitVector up = v;
            FitVector down = v;
            up[index] += kSteps[index];
            down[index] -= kSteps[index];
            Residuals(up, plus_);
            Residuals(down, minus_);
            std::vector<double>& column = jacobian[static_cast<std::size_t>(k)];
            column.resize(plus_.size());
            for (std::size_t r = 0; r < plus_.size(); ++r) {
                column[r] = (plus_[r] - minus_[r]) / (2.0 * kSteps[index]);
            }
        }
    }

    // Residuals at p, with A = J^T J and g = J^T r.
    void Linearise(const Column& p, std::vector<double>& err, Square& a, Column& g) const {
        std::vector<std::vector<double>>& jacobian = jacobian_;
        Jacobian(p, err, jacobian);
        const int n = unknowns();
        a = Square::zeros();
        g = Column::zeros();
        for (int i = 0; i < n; ++i) {
            const std::vector<double>& ci = jacobian[static_cast<std::size_t>(i)];
            for (int j = 0; j <= i; ++j) {
                const std::vector<double>& cj = jacobian[static_cast<std::size_t>(j)];
                double sum = 0;
                for (std::size_t r = 0; r < ci.size(); ++r) {
                    sum += ci[r] * cj[r];
                }
                a(i, j) = a(j, i) = sum;
            }
            double sum = 0;
            for (std::size_t r = 0; r < ci.size(); ++r) {
                sum += ci[r] * err[r];
            }
            g[i] = sum;
        }
    }

private:
    const ChainModel& model_;
    FitVector start_;
    bool barrel_;
    std::vector<cv::Point2d> camera_;
    std::vector<cv::Point2d> target_;
    mutable std::vector<cv::Point2d> fitted_;
    mutable std::vector<double> plus_;
    mutable std::vector<double> minus_;
    mutable std::vector<std::vector<double>> jacobian_;  // kept between linearisations
};

double SumOfSquares(const std::vector<double>& r) {
    double s = 0;
    for (const double e : r) {
        s += e * e;
    }
    return s;
}

double LargestMagnitude(const std::vector<double>& r) {
    double m = 0;
    for (const double e : r) {
        m = std::max(m, std::abs(e));
    }
    return m;
}

}  // namespace

FitVector Refine(const ChainModel& model, const FitVector& start, bool barrel, const std::vector<cv::Point2d>& camera,
                 const std::vector<cv::Point2d>& display, const std::vector<bool>& use, int maxIterations) {
    const Problem problem(model, start, barrel, camera, display, use);
    const int n = problem.unknowns();
    Column x = problem.Packed(start);
    std::vector<double> r;
    Square a;
    Column g;
    problem.Linearise(x, r, a, g);
    double s = SumOfSquares(r);
    Column damping = Column::zeros();
    for (int i = 0; i < n; ++i) {
        damping[i] = a(i, i);
    }
    constexpr double kLow = 0.25;
    constexpr double kHigh = 0.75;
    double lambda = 1;
    double lc = 0.75;
    std::vector<double> rd;
    constexpr int kIdleSteps = 3;
    int idle = 0;
    for (int iteration = 1;; ++iteration) {
        Square damped = a;
        for (int i = 0; i < n; ++i) {
            damped(i, i) += lambda * damping[i];
        }
        const Column d = Solve(damped, g, n);
        const Column xd = x - d;
        problem.Residuals(problem.Full(xd), rd);
        const double sd = SumOfSquares(rd);
        // The decrease the linear model predicts: d . (2g - A d).
        const double predicted = d.dot(2.0 * g - a * d);
        const double ratio = (s - sd) / (std::abs(predicted) > DBL_EPSILON ? predicted : 1);
        if (ratio > kHigh) {
            lambda *= 0.5;
            if (lambda < lc) {
                lambda = 0;
            }
        } else if (ratio < kLow) {
            const double t = d.dot(g);
            double nu = (sd - s) / (std::abs(t) > DBL_EPSILON ? t : 1) + 2;
            nu = std::min(std::max(nu, 2.0), 10.0);
            if (lambda == 0) {
                // Restart the damping at the scale of A's inverse.
                double largest = DBL_EPSILON;
                for (int i = 0; i < n; ++i) {
                    Column unit = Column::zeros();
                    unit[i] = 1;
                    largest = std::max(largest, std::abs(Solve(a, unit, n)[i]));
                }
                lambda = lc = 1.0 / largest;
                nu *= 0.5;
            }
            lambda *= nu;
        }
        // A step that changes no float the file holds changes nothing the
        // chain computes; after a few in a row, each smaller than the last,
        // the refinement has reached the floats' resolution.
        idle = sd < s || !problem.SameFloats(x, xd) ? 0 : idle + 1;
        if (sd < s) {
            s = sd;
            x = xd;
            problem.Linearise(x, r, a, g);
        }
        double step = 0;
        for (int i = 0; i < n; ++i) {
            step = std::max(step, std::abs(d[i]));
        }
        const bool proceed = iteration < maxIterations && step >= FLT_EPSILON && LargestMagnitude(r) >= FLT_EPSILON &&
                             idle < kIdleSteps;
        if (!proceed || !std::isfinite(s)) {
            break;
        }
    }
    return problem.Full(x);
}

}  // namespace quarvel::detail
