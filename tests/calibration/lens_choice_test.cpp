// Choosing a lens stage and the error expected over the display: the two
// judge a fit by leaving regions of the display out, and neither may
// flatter a fit where a region cannot be predicted at all.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include <quarvel/calibration.h>

#include "calibration/expected_error.h"
#include "calibration/lens_choice.h"
#include "support/lens_truth.h"

namespace {

using quarvel::detail::LensCandidate;
using quarvel::detail::FitPairs;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const cv::Size kCamera(1280, 720);
const cv::Size kDisplay(1920, 1080);

// 16 targets spread over the display and a tight cluster of `cluster`
// more, seen through a webcam's lens. Leaving the cluster's region out
// leaves 16 pairs: too few for the lens model, so that refit fails.
FitPairs SpreadAndCluster(int cluster) {
    const quarvel::test::LensTruth truth(quarvel::test::WebcamLens(), kCamera, kDisplay);
    std::vector<cv::Point2d> shown;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            shown.emplace_back(240 + c * 480, 135 + r * 270);
        }
    }
    for (int k = 0; k < cluster; ++k) {
        shown.emplace_back(1180 + 9 * (k % 4), 520 + 9 * (k / 4));
    }
    FitPairs pairs;
    pairs.display = shown;
    pairs.camera = truth.CameraOf(shown);
    pairs.image = kCamera;
    pairs.screen = kDisplay;
    return pairs;
}

TEST(LensChoice, ARegionWhoseRefitFailsCountsAsUnbounded) {
    const FitPairs pairs = SpreadAndCluster(10);
    const std::vector<bool> all(pairs.camera.size(), true);
    ASSERT_TRUE(quarvel::detail::SupportsLensStage(pairs, all));
    LensCandidate candidate = quarvel::detail::FitLensCandidate(pairs, all, 3.0);
    ASSERT_TRUE(candidate.fitted);
    quarvel::detail::JudgeLensCandidate(pairs, candidate);
    ASSERT_EQ(candidate.leftOut.size(), pairs.camera.size());
    int finite = 0;
    for (std::size_t i = 0; i < pairs.camera.size(); ++i) {
        EXPECT_FALSE(std::isnan(candidate.leftOut[i])) << "pair " << i << ": every pair kept has a figure";
        finite += std::isfinite(candidate.leftOut[i]) ? 1 : 0;
        if (i >= 16) {
            EXPECT_EQ(candidate.leftOut[i], kInf) << "pair " << i << ": nothing predicts its region";
        }
    }
    EXPECT_GE(finite, 12) << "the regions away from the cluster refit";
    // The refit the leave-one-out figure asks for fails the same way: no
    // position, never a made-up one.
    std::vector<bool> without = all;
    for (std::size_t i = 16; i < without.size(); ++i) {
        without[i] = false;
    }
    const cv::Point2d at = quarvel::detail::RefitLensWithout(pairs, candidate, without)[16];
    EXPECT_TRUE(std::isnan(at.x) && std::isnan(at.y));
}

TEST(LensChoice, AFitWhoseLensRefitsFailKeepsThePlainModel) {
    // Through the whole fit: a lens stage that cannot predict a region of
    // its own pairs is not written, however well it meets them.
    const FitPairs pairs = SpreadAndCluster(10);
    std::vector<quarvel::PointPair> list;
    for (std::size_t i = 0; i < pairs.camera.size(); ++i) {
        list.push_back({pairs.camera[i], pairs.display[i]});
    }
    quarvel::FitOptions options;
    options.imageWidth = kCamera.width;
    options.imageHeight = kCamera.height;
    options.displayWidth = kDisplay.width;
    options.displayHeight = kDisplay.height;
    const quarvel::FitResult fit = quarvel::FitCalibration(list, options);
    ASSERT_TRUE(fit.ok) << fit.reason;
    EXPECT_FALSE(fit.params.lens.active()) << fit.model;
    EXPECT_TRUE(std::isfinite(fit.expectedRms));
}

TEST(ExpectedError, PairsLeftOutDecideTheFigure) {
    // Four pairs at the corners of a square, all seen; the cells around
    // them take their left-out errors.
    const std::vector<cv::Point2d> display = {{100, 100}, {300, 100}, {100, 300}, {300, 300}};
    const std::vector<bool> all(4, true);
    const auto seen = [](const cv::Point2d& p) { return p.x >= 100 && p.x <= 300 && p.y >= 100 && p.y <= 300; };
    const struct {
        const char* name;
        std::vector<double> leftOut;
        std::vector<bool> use;
        double rms;  // NaN: finite and positive
    } cases[] = {
        {"even errors", {0.1, 0.1, 0.1, 0.1}, all, 0.1},
        {"a pair not in use is no figure", {0.1, 0.1, 0.1, kNaN}, {true, true, true, false}, kNaN},
        {"a pair nothing predicts is unbounded", {0.1, 0.1, 0.1, kInf}, all, kInf},
        {"no pair at all", {kNaN, kNaN, kNaN, kNaN}, {false, false, false, false}, kInf},
    };
    for (const auto& c : cases) {
        const quarvel::detail::DisplayError e =
            quarvel::detail::ExpectedOverDisplay(display, c.use, c.leftOut, cv::Size(400, 400), 150.0, seen);
        if (std::isnan(c.rms)) {
            EXPECT_TRUE(std::isfinite(e.rms) && e.rms > 0) << c.name << ": " << e.rms;
        } else if (std::isinf(c.rms)) {
            EXPECT_EQ(e.rms, kInf) << c.name;
            EXPECT_EQ(e.max, kInf) << c.name;
        } else {
            EXPECT_NEAR(e.rms, c.rms, 1e-12) << c.name;
        }
    }
}

TEST(ExpectedError, RegionsLeftOutAreEachPredictedByTheRest) {
    // A refit that puts every pair 0.5 px to the right of its target, and
    // one that finds no position for any: errors of 0.5, and unbounded.
    std::vector<cv::Point2d> display;
    for (int k = 0; k < 9; ++k) {
        display.emplace_back(100 + 200 * (k % 3), 100 + 200 * (k / 3));
    }
    const std::vector<bool> all(display.size(), true);
    const double region = quarvel::detail::RegionSize(display, all);
    EXPECT_DOUBLE_EQ(region, 300.0);  // 1.5 spacings
    int refits = 0;
    const std::vector<double> shifted =
        quarvel::detail::LeaveRegionsOut(display, all, region, [&](const std::vector<bool>& without) {
            ++refits;
            EXPECT_LT(std::count(without.begin(), without.end(), true), 9);
            std::vector<cv::Point2d> at = display;
            for (cv::Point2d& p : at) {
                p.x += 0.5;
            }
            return at;
        });
    EXPECT_EQ(refits, 4);  // 300-pixel cells over 100 ... 500
    for (const double e : shifted) {
        EXPECT_DOUBLE_EQ(e, 0.5);
    }
    const std::vector<double> lost = quarvel::detail::LeaveRegionsOut(
        display, all, region, [&](const std::vector<bool>&) { return std::vector<cv::Point2d>(); });
    for (const double e : lost) {
        EXPECT_EQ(e, kInf);
    }
}

}  // namespace
