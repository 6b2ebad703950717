#ifndef QUARVEL_SRC_NUMERIC_ROBUST_H
#define QUARVEL_SRC_NUMERIC_ROBUST_H

// Robust statistics: the median, the spread that a median of absolute
// deviations stands for, and fitting with an inlier set that is classified
// again against each fit until it settles.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quarvel::detail {

// A median absolute deviation times this is the standard deviation of
// normally distributed values.
inline constexpr double kRobustScale = 1.4826;

// The median of `values` (the upper one of an even count; T() for none).
// Reorders them.
template <typename T>
T MedianInPlace(std::vector<T>& values) {
    if (values.empty()) {
        return T();
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The same of a copy.
inline double Median(std::vector<double> values) { return MedianInPlace(values); }

// The standard deviation a median absolute deviation stands for.
inline double RobustSigma(double medianDeviation) { return kRobustScale * medianDeviation; }

// `spreads` standard deviations, for a median absolute deviation.
inline double RobustLimit(double spreads, double medianDeviation) {
    return spreads * kRobustScale * medianDeviation;
}

// The median of `values` (or, `absolute`, of their distances from
// `centre`) to an eighth of a unit, counted in bins over +-256 in one pass:
// for values of about grey levels, several times a frame. `counts` is
// scratch space.
double BinnedMedian(const std::vector<float>& values, double centre, std::vector<int>& counts, bool absolute = false);

// Which residuals a fit keeps: those within `spreads` robust standard
// deviations of the inliers' median residual, and never fewer than those
// within `floor`. A fit that leaves fewer than `least` inliers fails.
struct InlierRule {
    double floor = 0.0;
    double spreads = 4.0;
    std::size_t least = 4;
};

// Fits on the pairs `use` marks, classifies every pair again against the
// fit by `rule`, and repeats until the set no longer changes, at most
// `rounds` fits. `fit(use, residuals)` fits on `use` and gives every
// pair's residual (false: no fit). True when the set settled, or the
// rounds ran out with enough inliers; `use` holds the last set. False when
// a fit failed or too few inliers remain.
template <typename Fit>
bool SettleInliers(std::vector<bool>& use, int rounds, const InlierRule& rule, Fit&& fit) {
    const auto enough = [&] {
        return static_cast<std::size_t>(std::count(use.begin(), use.end(), true)) >= rule.least;
    };
    std::vector<double> residuals;
    std::vector<double> inlying;
    std::vector<bool> next;
    for (int round = 0; round < rounds; ++round) {
        if (!enough() || !fit(use, residuals)) {
            return false;
        }
        inlying.clear();
        for (std::size_t i = 0; i < residuals.size(); ++i) {
            if (use[i]) {
                inlying.push_back(residuals[i]);
            }
        }
        const double limit = std::max(rule.floor, RobustLimit(rule.spreads, MedianInPlace(inlying)));
        next.assign(residuals.size(), false);
        for (std::size_t i = 0; i < residuals.size(); ++i) {
            next[i] = residuals[i] <= limit;
        }
        if (next == use) {
            return true;
        }
        use.swap(next);
    }
    return enough();
}

}  // namespace quarvel::detail

#endif
