// Fitting calibrations to synthetic truths: a realistic camera, a barrel
// with corner magnification 1.05-1.35, a mild keystone, targets on a grid
// inset 1/8 of the display; the error is measured over a held-out grid
// covering the whole camera image, against the truth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include <quarvel/calibration.h>

#include "support/fixtures.h"
#include "support/lens_truth.h"
#include "support/synthetic.h"

namespace {

using quarvel::CalibrationParams;
using quarvel::FitOptions;
using quarvel::FitResult;
using quarvel::Model;
using quarvel::PointPair;
using quarvel::test::Pairs;
using quarvel::test::Truth;

constexpr int kDisplayW = 1920;
constexpr int kDisplayH = 1080;

Model Loaded(const CalibrationParams& p) { return Model(p, cv::Size(kDisplayW, kDisplayH)); }

FitOptions Options() {
    FitOptions o;
    o.imageWidth = 1280;
    o.imageHeight = 720;
    o.displayWidth = kDisplayW;
    o.displayHeight = kDisplayH;
    return o;
}

double HeldOutRms(const Model& truth, const CalibrationParams& fitted) {
    return quarvel::test::HeldOutRms(truth, Loaded(fitted));
}

TEST(Calibration, SyntheticTargetsAreMet) {
    for (const double m : {1.05, 1.2, 1.35}) {
        const Model truth = Loaded(Truth(m));
        const FitResult clean = quarvel::FitCalibration(Pairs(truth, 4, 4, 0.0), Options());
        ASSERT_TRUE(clean.ok) << clean.reason;
        const double cleanRms = HeldOutRms(truth, clean.params);
        EXPECT_LE(cleanRms, 0.05) << "m = " << m;

        double noisyWorst = 0;
        for (unsigned seed = 1; seed <= 5; ++seed) {
            const FitResult noisy = quarvel::FitCalibration(Pairs(truth, 4, 4, 0.3, seed), Options());
            ASSERT_TRUE(noisy.ok) << noisy.reason;
            noisyWorst = std::max(noisyWorst, HeldOutRms(truth, noisy.params));
        }
        EXPECT_LE(noisyWorst, 0.75) << "m = " << m;
        std::printf("m = %.2f: noise-free held-out rms %.4f px, 0.3 px noise worst of 5 %.3f px\n", m, cleanRms,
                    noisyWorst);
    }
}

TEST(Calibration, GrossOutliersAreRejected) {
    const Model truth = Loaded(Truth(1.2));
    std::vector<PointPair> pairs = Pairs(truth, 5, 5, 0.3, 7);
    const FitResult without = quarvel::FitCalibration(pairs, Options());
    ASSERT_TRUE(without.ok) << without.reason;
    // Three misclicks, 50 to 200 px off.
    const int bad[3] = {3, 12, 21};
    pairs[3].camera += cv::Point2d(50, 0);
    pairs[12].camera += cv::Point2d(-90, 120);
    pairs[21].camera += cv::Point2d(0, -200);
    const FitResult with = quarvel::FitCalibration(pairs, Options());
    ASSERT_TRUE(with.ok) << with.reason;
    for (const int i : bad) {
        EXPECT_FALSE(with.pairs[static_cast<std::size_t>(i)].inlier) << i;
    }
    EXPECT_EQ(with.used, 22);
    const double a = HeldOutRms(truth, without.params);
    const double b = HeldOutRms(truth, with.params);
    EXPECT_NEAR(a, b, 0.1);
    std::printf("outliers: held-out rms %.3f px without them, %.3f px with them rejected\n", a, b);
}

TEST(Calibration, ATruthWithoutBarrelIsFound) {
    const Model truth = Loaded(Truth(1.0));
    const FitResult fit = quarvel::FitCalibration(Pairs(truth, 4, 4, 0.0), Options());
    ASSERT_TRUE(fit.ok) << fit.reason;
    EXPECT_LE(HeldOutRms(truth, fit.params), 0.05);
    EXPECT_EQ(fit.params.focalZ, 0.0f);
    FitOptions noBarrel = Options();
    noBarrel.barrel = false;
    const Model curved = Loaded(Truth(1.2));
    EXPECT_EQ(quarvel::FitCalibration(Pairs(curved, 4, 4, 0.0), noBarrel).params.focalZ, 0.0f);
}

TEST(Calibration, TheFitIsWhatALoadComputes) {
    const Model truth = Loaded(Truth(1.2));
    const std::vector<PointPair> pairs = Pairs(truth, 5, 4, 0.3);
    const FitResult fit = quarvel::FitCalibration(pairs, Options());
    ASSERT_TRUE(fit.ok) << fit.reason;
    quarvel::test::TempDir dir;
    for (const bool utf8 : {false, true}) {
        const std::string path = (dir.path() / (utf8 ? "u.ini" : "g.ini")).string();
        ASSERT_TRUE(quarvel::WriteParameterFile(path, fit.params, utf8).ok);
        Quarvel loaded;
        loaded.SetDisplaySize(kDisplayW, kDisplayH);
        ASSERT_TRUE(loaded.ReadIniParam(path));
        const quarvel::LoadReport r = loaded.GetLoadReport();
        EXPECT_EQ(r.encoding, utf8 ? quarvel::Encoding::Utf8 : quarvel::Encoding::Gbk);
        EXPECT_EQ(r.calibratedWidth, kDisplayW);
        for (const quarvel::EntryReport& e : r.entries) {
            EXPECT_EQ(e.status, quarvel::EntryStatus::Found) << e.key;
        }
        EXPECT_TRUE(r.unknownKeys.empty());
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const cv::Point2d d = loaded.CorrectPointSubpixel(pairs[i].camera);
            EXPECT_EQ(d.x, fit.pairs[i].fitted.x);  // exactly: the file holds the fitted floats
            EXPECT_EQ(d.y, fit.pairs[i].fitted.y);
        }
    }
    const quarvel::Result nowhere = quarvel::WriteParameterFile("/nonexistent/dir/x.ini", fit.params);
    EXPECT_FALSE(nowhere.ok);
    EXPECT_NE(nowhere.reason.find("/nonexistent/dir/x.ini"), std::string::npos) << nowhere.reason;
    // Values without a display size write no [quarvel] section.
    CalibrationParams bare = fit.params;
    bare.displayWidth = 0;
    const std::string path = (dir.path() / "bare.ini").string();
    ASSERT_TRUE(quarvel::WriteParameterFile(path, bare));
    Quarvel loaded;
    ASSERT_TRUE(loaded.ReadIniParam(path));
    EXPECT_EQ(loaded.GetLoadReport().calibratedWidth, 0);
}

TEST(Calibration, UntrustworthyInputsGiveNoFit) {
    const Model truth = Loaded(Truth(1.2));
    std::vector<PointPair> three = Pairs(truth, 3, 2, 0.0);
    three.resize(3);
    EXPECT_FALSE(quarvel::FitCalibration(three, Options()).ok);
    std::vector<PointPair> line;
    for (int i = 0; i < 6; ++i) {
        const cv::Point2d target(300 + 200 * i, 540);
        line.push_back({truth.InvertPoint(target), target});
    }
    const FitResult collinear = quarvel::FitCalibration(line, Options());
    EXPECT_FALSE(collinear.ok);
    EXPECT_NE(collinear.reason.find("one line"), std::string::npos) << collinear.reason;
    std::vector<PointPair> nan = Pairs(truth, 4, 4, 0.0);
    nan[2].camera.x = NAN;
    EXPECT_FALSE(quarvel::FitCalibration(nan, Options()).ok);
    // Targets measured only in the left of the image, from a matrix whose w
    // turns negative further right: the fit reproduces them, but the
    // picture beyond would be mirrored.
    CalibrationParams steep = Truth(1.2);
    steep.matrix = cv::Matx33f(1, 0, 0, 0, 1, 0, -0.0008f, 0, 1);
    const Model horizon = Loaded(steep);
    std::vector<PointPair> left;
    for (int x = 50; x <= 650; x += 150) {
        for (int y = 50; y <= 650; y += 150) {
            left.push_back({cv::Point2d(x, y), horizon.CorrectPointSubpixel(cv::Point2d(x, y))});
        }
    }
    const FitResult mirrored = quarvel::FitCalibration(left, Options());
    EXPECT_LT(mirrored.rms, 0.05);
    EXPECT_FALSE(mirrored.ok);
    EXPECT_NE(mirrored.reason.find("w is not positive"), std::string::npos) << mirrored.reason;
    // A mirror image of the targets is a valid calibration, not a fold.
    std::vector<PointPair> flipped = Pairs(truth, 4, 4, 0.0);
    for (PointPair& p : flipped) {
        p.display.x = kDisplayW - p.display.x;
    }
    EXPECT_TRUE(quarvel::FitCalibration(flipped, Options()).ok);
}

TEST(Calibration, TargetsLieOnTheInsetGrid) {
    const std::vector<cv::Point2d> grid = quarvel::TargetGrid(3, 3, cv::Size(1920, 1080));
    ASSERT_EQ(grid.size(), 9u);
    EXPECT_EQ(grid[0], cv::Point2d(240, 135));
    EXPECT_EQ(grid[1], cv::Point2d(960, 135));
    EXPECT_EQ(grid[3], cv::Point2d(240, 540));
    EXPECT_EQ(grid[8], cv::Point2d(1680, 945));
    // Whole pixels: 135 + 202.5 rounds to 338.
    EXPECT_EQ(quarvel::TargetGrid(2, 5, cv::Size(1920, 1080))[2], cv::Point2d(240, 338));
    EXPECT_TRUE(quarvel::TargetGrid(1, 3, cv::Size(1920, 1080)).empty());
    EXPECT_TRUE(quarvel::TargetGrid(3, 3, cv::Size()).empty());
}

// Measured pairs through a real lens: enough targets spread over the
// display get a lens stage (the table's model line says so), a few do not;
// and the expected error over the display, which the plain fit's own pairs
// cannot show, never flatters either.
TEST(Calibration, PairsGetALensStageWhereTheySupportOne) {
    const quarvel::test::LensTruth truth(quarvel::test::WideLens(), cv::Size(1280, 720), cv::Size(kDisplayW, kDisplayH));
    const struct {
        int columns;
        int rows;
        bool stage;
    } cases[] = {{9, 6, true}, {5, 4, false}};
    for (const auto& c : cases) {
        const std::vector<cv::Point2d> targets = quarvel::TargetGrid(c.columns, c.rows, cv::Size(kDisplayW, kDisplayH));
        const std::vector<cv::Point2d> seen = truth.CameraOf(targets);
        std::mt19937 random(3);
        std::normal_distribution<double> noise(0.0, 0.05);
        std::vector<PointPair> pairs;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            pairs.push_back({seen[i] + cv::Point2d(noise(random), noise(random)), targets[i]});
        }
        const FitResult fit = quarvel::FitCalibration(pairs, Options());
        ASSERT_TRUE(fit.ok) << fit.reason;
        EXPECT_EQ(fit.params.lens.active(), c.stage) << c.columns << "x" << c.rows << ": " << fit.model;
        EXPECT_EQ(fit.model.find("lens stage") != std::string::npos, c.stage) << fit.model;
        const Model fitted = Loaded(fit.params);
        const quarvel::test::HeldOut h =
            quarvel::test::HeldOutError(truth, [&fitted](const cv::Point2d& p) { return fitted.CorrectPointSubpixel(p); });
        if (h.rms > 0.1) {
            EXPECT_GE(fit.expectedRms, 0.5 * h.rms) << c.columns << "x" << c.rows;
        }
        EXPECT_GE(fit.expectedMax, fit.expectedRms);
        std::printf("%dx%d targets through a wide lens: %s, held-out %.3f px rms, expected %.3f px\n", c.columns,
                    c.rows, fit.model.c_str(), h.rms, fit.expectedRms);
    }
}

}  // namespace
