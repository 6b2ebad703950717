// Calibrating from one frame of the pattern on the simulated rig, judged
// against the truth over the camera's view of the display: one test per
// case of the camera calibration's targets.
#include <gtest/gtest.h>

#include <cstdio>

#include "camera/scenario.h"

namespace {

using quarvel::test::CalibrateFromOneFrame;
using quarvel::test::Outcome;
using quarvel::test::Scenario;

Outcome Check(const Scenario& s, double target) {
    const Outcome o = CalibrateFromOneFrame(s);
    EXPECT_TRUE(o.fit.ok) << s.Name() << ": " << o.fit.reason << " / " << o.seen.reason;
    EXPECT_LE(o.heldOut, target) << s.Name();
    std::printf("%s: %zu corners, %.0f %% of the display, %s, held-out rms %.4f px (target %.2f), fit rms %.4f, "
                "expected %.4f / %.3f\n",
                s.Name().c_str(), o.seen.pairs.size(), 100 * o.seen.coverage, o.fit.model.c_str(), o.heldOut, target,
                o.fit.rms, o.fit.expectedRms, o.fit.expectedMax);
    return o;
}

TEST(CameraAccuracy, HdCamerasWithBlurNoiseVignettingGammaAndAmbientLight) {
    for (const cv::Size camera : {cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        for (const double gamma : {1.9, 2.4}) {
            Scenario s;
            s.camera = camera;
            s.rig.gamma = gamma;
            s.rig.blurSigma = 1.0;
            s.rig.noiseSigma = 2.0;
            s.rig.vignetting = 0.35;
            Check(s, 0.05);
        }
    }
}

TEST(CameraAccuracy, RearProjectionSeenMirrored) {
    Scenario s;
    s.mirrored = true;
    const Outcome o = Check(s, 0.05);
    EXPECT_TRUE(o.seen.mirrored);
}

TEST(CameraAccuracy, APersonHidesAFifthOfTheFrame) {
    Scenario s;
    s.rig.occluderWidth = 0.2;
    const Outcome o = Check(s, 0.06);
    EXPECT_GT(o.seen.pairs.size(), 40u);
}

TEST(CameraAccuracy, SmallCameras) {
    for (const auto& [camera, display] : {std::pair{cv::Size(640, 480), cv::Size(1920, 1080)},
                                          std::pair{cv::Size(800, 600), cv::Size(1280, 800)}}) {
        Scenario s;
        s.camera = camera;
        s.display = display;
        Check(s, 0.08);
    }
}

TEST(CameraAccuracy, HeavyBlurAndNoise) {
    Scenario s;
    s.rig.blurSigma = 1.8;
    s.rig.noiseSigma = 5.0;
    Check(s, 0.15);
}

TEST(CameraAccuracy, ATruthWithoutBarrel) {
    Scenario s;
    s.magnification = 1.0;
    const Outcome o = Check(s, 0.05);
    EXPECT_EQ(o.fit.params.focalZ, 0.0f);
}

TEST(CameraAccuracy, ACameraThatSeesOnlyTheDisplaysMiddle) {
    Scenario s;
    s.view = 0.75;
    s.display = cv::Size(1280, 800);
    const Outcome o = Check(s, 0.05);
    EXPECT_LT(o.seen.coverage, 0.5);
}

}  // namespace

namespace {

// The library's own barrel at its strongest: every marker is checked
// against its neighbours, so the bent edges of the board are kept. At a
// corner magnification of 3 the camera sees a quarter of the display (its
// edges are squeezed beyond what any corner can be found in).
TEST(CameraAccuracy, StrongBarrels) {
    const struct {
        double magnification;
        double view;
        double target;
        double coverage;
    } cases[] = {{2.2, 1.25, 0.05, 0.5}, {3.0, 1.1, 0.08, 0.2}};
    for (const auto& c : cases) {
        Scenario s;
        s.magnification = c.magnification;
        s.view = c.view;
        const Outcome o = Check(s, c.target);
        EXPECT_GT(o.seen.coverage, c.coverage) << s.Name();
    }
}

}  // namespace
