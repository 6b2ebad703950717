// Robust statistics: medians, and an inlier set that settles.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numeric/robust.h"

namespace {

using quarvel::detail::InlierRule;
using quarvel::detail::SettleInliers;

TEST(Robust, MediansOfWhatFitsAndFitsDoNotSee) {
    const struct {
        std::vector<double> values;
        double median;
    } cases[] = {
        {{}, 0.0}, {{3}, 3.0}, {{5, 1, 3}, 3.0}, {{4, 1, 3, 2}, 3.0}, {{1, 1e9, 2}, 2.0}, {{-2, -1, -3}, -2.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quarvel::detail::Median(c.values), c.median);
    }
    std::vector<int> counts;
    std::vector<float> levels = {10.0f, 12.0f, 11.0f, 300.0f, -400.0f};
    EXPECT_NEAR(quarvel::detail::BinnedMedian(levels, 0.0, counts), 11.0, 0.125);
    // Distances from 11: 1, 1, 0, 289, 411 -> the median distance is 1.
    EXPECT_NEAR(quarvel::detail::BinnedMedian(levels, 11.0, counts, true), 1.0, 0.125);
    EXPECT_DOUBLE_EQ(quarvel::detail::RobustSigma(1.0), 1.4826);
}

// Points on the line y = 2x with small noise and a few gross outliers; the
// fit is the least-squares slope through the origin of the points in use.
struct Line {
    std::vector<double> x, y;
    int fits = 0;
    bool operator()(const std::vector<bool>& use, std::vector<double>& residuals) {
        ++fits;
        double sxx = 0, sxy = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (use[i]) {
                sxx += x[i] * x[i];
                sxy += x[i] * y[i];
            }
        }
        if (sxx <= 0) {
            return false;
        }
        residuals.resize(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            residuals[i] = std::abs(y[i] - sxy / sxx * x[i]);
        }
        return true;
    }
};

Line NoisyLine(const std::vector<std::size_t>& outliers) {
    Line l;
    for (int i = 1; i <= 20; ++i) {
        l.x.push_back(i);
        l.y.push_back(2.0 * i + 0.05 * ((i * 7) % 5 - 2));
    }
    for (const std::size_t o : outliers) {
        l.y[o] += 40.0;
    }
    return l;
}

TEST(Robust, InliersSettleAroundTheFit) {
    {
        // The outliers leave, and the set is stable on the next fit.
        Line line = NoisyLine({3, 11});
        std::vector<bool> use(20, true);
        ASSERT_TRUE(SettleInliers(use, 4, InlierRule{0.5, 4.0, 4}, line));
        EXPECT_FALSE(use[3]);
        EXPECT_FALSE(use[11]);
        EXPECT_EQ(std::count(use.begin(), use.end(), true), 18);
        EXPECT_LE(line.fits, 4);
    }
    {
        // Too few left to fit: a failure, never a fit on three points.
        Line line = NoisyLine({});
        std::vector<bool> use(20, false);
        use[0] = use[1] = use[2] = true;
        EXPECT_FALSE(SettleInliers(use, 4, InlierRule{0.5, 4.0, 4}, line));
        EXPECT_EQ(line.fits, 0);
    }
    {
        // A fit that fails is a failure.
        std::vector<bool> use(5, true);
        EXPECT_FALSE(SettleInliers(use, 4, InlierRule{}, [](const std::vector<bool>&, std::vector<double>&) {
            return false;
        }));
    }
    {
        // One round only: the set it classified is kept, unsettled but
        // large enough.
        Line line = NoisyLine({5});
        std::vector<bool> use(20, true);
        EXPECT_TRUE(SettleInliers(use, 1, InlierRule{0.5, 4.0, 4}, line));
        EXPECT_FALSE(use[5]);
        EXPECT_EQ(line.fits, 1);
    }
}

}  // namespace
