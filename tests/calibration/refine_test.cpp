// The plain model's steps on their own: the barrel and matrix found from
// pairs of a known truth, the joint refinement from a start that is off,
// and the pairs a refinement is told to leave out.
#include <gtest/gtest.h>

#include <cmath>

#include "calibration/chain_model.h"
#include "calibration/plain_fit.h"
#include "calibration/refine.h"
#include "support/synthetic.h"

namespace {

using quarvel::detail::ChainModel;
using quarvel::detail::FitVector;
using quarvel::detail::FitPairs;

quarvel::FitOptions Options() {
    quarvel::FitOptions o;
    o.imageWidth = 1280;
    o.imageHeight = 720;
    o.displayWidth = 1920;
    o.displayHeight = 1080;
    return o;
}

FitPairs TruthPairs(double magnification, int cols, int rows) {
    const quarvel::Model truth(quarvel::test::Truth(magnification), cv::Size(1920, 1080));
    FitPairs p;
    for (const quarvel::PointPair& pair : quarvel::test::Pairs(truth, cols, rows)) {
        p.camera.push_back(pair.camera);
        p.display.push_back(pair.display);
    }
    return p;
}

double Rms(const std::vector<double>& r, const std::vector<bool>& use) {
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (use[i]) {
            sum += r[i] * r[i];
            ++n;
        }
    }
    return std::sqrt(sum / n);
}

TEST(PlainFit, FindsTheBarrelOnlyWhereThereIsOne) {
    const ChainModel model(Options());
    const struct {
        double magnification;
        bool barrel;
    } cases[] = {{1.0, false}, {1.2, true}, {1.5, true}};
    for (const auto& c : cases) {
        const FitPairs pairs = TruthPairs(c.magnification, 5, 4);
        const quarvel::detail::PlainFit fit = quarvel::detail::FitPlainModel(model, pairs, true, 3.0);
        ASSERT_TRUE(fit.ok);
        EXPECT_EQ(fit.barrel, c.barrel) << "magnification " << c.magnification;
        EXPECT_EQ(std::count(fit.use.begin(), fit.use.end(), true), 20);
        EXPECT_LT(Rms(quarvel::detail::ResidualsOf(model, pairs, fit.fit, fit.barrel), fit.use), 0.01);
    }
}

// The refinement polishes what the search found: the chain's display fit
// is not smooth in the focal value (the corrected image's size is whole
// pixels), so it never wanders far in it, and never ends worse than it
// started.
TEST(Refine, PolishesTheSearchAndIgnoresPairsLeftOut) {
    const ChainModel model(Options());
    FitPairs pairs = TruthPairs(1.3, 5, 4);
    const quarvel::detail::PlainFit fit = quarvel::detail::FitPlainModel(model, pairs, true, 3.0);
    ASSERT_TRUE(fit.ok && fit.barrel);
    // A gross misclick, left out of the refinement.
    pairs.display[7] += cv::Point2d(60, -45);
    std::vector<bool> use(pairs.camera.size(), true);
    use[7] = false;
    const struct {
        double kappaShare;  // of the fitted one
        double shift;       // pixels added to the matrix's x translation
    } starts[] = {{1.0, 0.0}, {0.999, 0.0}, {0.995, 4.0}, {0.99, 0.0}};
    for (const auto& start : starts) {
        FitVector from = fit.fit;
        from[0] *= start.kappaShare;
        from[3] += start.shift;
        const FitVector refined = quarvel::detail::Refine(model, from, true, pairs.camera, pairs.display, use, 60);
        const std::vector<double> before = quarvel::detail::ResidualsOf(model, pairs, from, true);
        const std::vector<double> after = quarvel::detail::ResidualsOf(model, pairs, refined, true);
        EXPECT_LE(Rms(after, use), Rms(before, use)) << start.kappaShare << ", " << start.shift;
        EXPECT_GT(after[7], 50.0) << "the misclick was left out, not fitted";
    }
    const FitVector same = quarvel::detail::Refine(model, fit.fit, true, pairs.camera, pairs.display, use, 60);
    EXPECT_LT(Rms(quarvel::detail::ResidualsOf(model, pairs, same, true), use), 0.001);
}

TEST(Refine, WithoutTheBarrelTheMatrixAloneMovesAndIsFound) {
    const ChainModel model(Options());
    const FitPairs pairs = TruthPairs(1.0, 5, 4);
    const quarvel::detail::PlainFit fit = quarvel::detail::FitPlainModel(model, pairs, false, 3.0);
    ASSERT_TRUE(fit.ok);
    ASSERT_FALSE(fit.barrel);
    FitVector from = fit.fit;
    from[3] += 6.0;
    from[6] -= 4.0;
    from[2] *= 1.01;
    const std::vector<bool> use(pairs.camera.size(), true);
    const FitVector refined = quarvel::detail::Refine(model, from, false, pairs.camera, pairs.display, use, 60);
    EXPECT_EQ(refined[0], from[0]);
    EXPECT_LT(Rms(quarvel::detail::ResidualsOf(model, pairs, refined, false), use), 0.001);
}

}  // namespace
