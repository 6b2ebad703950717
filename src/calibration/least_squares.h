#ifndef QUARVEL_SRC_CALIBRATION_LEAST_SQUARES_H
#define QUARVEL_SRC_CALIBRATION_LEAST_SQUARES_H

#include <functional>
#include <vector>

namespace quarvel::detail {

// A nonlinear least-squares problem: `evaluate(x, r)` fills the residuals
// r (residualCount of them) for the parameters x. `steps` are the
// finite-difference steps, one per parameter; `active` (empty: all) says
// which parameters move.
struct LeastSquares {
    int residualCount = 0;
    std::function<void(const std::vector<double>& x, std::vector<double>& r)> evaluate;
    std::vector<double> steps;
    std::vector<bool> active;
};

// Levenberg-Marquardt with Marquardt's scaling (the damping acts on each
// parameter in proportion to its curvature, so parameters of any size move
// alike) on central-difference Jacobians; stops after `maxIterations`, or
// when a step no longer lowers the sum of squares by a relative 1e-12.
// Returns the sum of squares at the x it leaves; non-finite residuals count
// as a huge sum, so steps into them are refused.
double Minimise(const LeastSquares& problem, std::vector<double>& x, int maxIterations);

}  // namespace quarvel::detail

#endif
