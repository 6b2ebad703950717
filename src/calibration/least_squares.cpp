#include "calibration/least_squares.h"

#include <cmath>
#include <limits>

#include <opencv2/core.hpp>

namespace quarvel::detail {
namespace {

double SumOfSquares(const std::vector<double>& r) {
    double sum = 0.0;
    for (const double v : r) {
        sum += v * v;
    }
    return std::isfinite(sum) ? sum : std::numeric_limits<double>::max();
}

}  // namespace

double Minimise(const LeastSquares& problem, std::vector<double>& x, int maxIterations) {
    const int n = static_cast<int>(x.size());
    const int m = problem.residualCount;
    std::vector<int> moving;
    for (int j = 0; j < n; ++j) {
        if (problem.active.empty() || problem.active[static_cast<std::size_t>(j)]) {
            moving.push_back(j);
        }
    }
    const int k = static_cast<int>(moving.size());
    std::vector<double> r(static_cast<std::size_t>(m));
    problem.evaluate(x, r);
    double cost = SumOfSquares(r);
    if (k == 0 || m == 0) {
        return cost;
    }
    double lambda = 1e-3;
    std::vector<double> plus(static_cast<std::size_t>(m));
    std::vector<double> minus(static_cast<std::size_t>(m));
    cv::Mat jacobian(m, k, CV_64F);
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
        // The Jacobian of the moving parameters.
        std::vector<double> probe = x;
        for (int c = 0; c < k; ++c) {
            const std::size_t j = static_cast<std::size_t>(moving[static_cast<std::size_t>(c)]);
            const double h = problem.steps[j];
            probe[j] = x[j] + h;
            problem.evaluate(probe, plus);
            probe[j] = x[j] - h;
            problem.evaluate(probe, minus);
            probe[j] = x[j];
            for (int i = 0; i < m; ++i) {
                const double d = (plus[static_cast<std::size_t>(i)] - minus[static_cast<std::size_t>(i)]) / (2 * h);
                jacobian.at<double>(i, c) = std::isfinite(d) ? d : 0.0;
            }
        }
        cv::Mat jtj;
        cv::mulTransposed(jacobian, jtj, true);
        cv::Mat rv(m, 1, CV_64F, r.data());
        cv::Mat jtr = jacobian.t() * rv;
        bool improved = false;
        for (int attempt = 0; attempt < 12 && !improved; ++attempt) {
            cv::Mat damped = jtj.clone();
            for (int c = 0; c < k; ++c) {
                damped.at<double>(c, c) += lambda * std::max(jtj.at<double>(c, c), 1e-30);
            }
            cv::Mat step;
            if (!cv::solve(damped, -jtr, step, cv::DECOMP_CHOLESKY) && !cv::solve(damped, -jtr, step, cv::DECOMP_SVD)) {
                lambda *= 10;
                continue;
            }
            std::vector<double> next = x;
            for (int c = 0; c < k; ++c) {
                next[static_cast<std::size_t>(moving[static_cast<std::size_t>(c)])] += step.at<double>(c);
            }
            std::vector<double> nextR(static_cast<std::size_t>(m));
            problem.evaluate(next, nextR);
            const double nextCost = SumOfSquares(nextR);
            if (nextCost < cost) {
                const bool settled = cost - nextCost <= 1e-12 * cost;
                x = std::move(next);
                r = std::move(nextR);
                cost = nextCost;
                lambda = std::max(lambda / 3, 1e-12);
                improved = true;
                if (settled) {
                    return cost;
                }
            } else {
                lambda *= 4;
            }
        }
        if (!improved) {
            break;
        }
    }
    return cost;
}

}  // namespace quarvel::detail
