// Calibration by touch on the simulated infrared camera: a person touches
// each target shown, holds, and lifts; one touch is a misclick.

#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include <quarvel/touch_calibration.h>

#include "support/synthetic.h"
#include "touch/scene.h"

namespace {

using quarvel::TouchCalibration;
using quarvel::TouchCalibrationStatus;

TEST(TouchCalibration, FiveByFourTargetsWithAMisclickFitTheTruth) {
    quarvel::test::IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), quarvel::test::IrOptions());
    quarvel::TouchCalibrationOptions options;
    options.columns = 5;
    options.rows = 4;
    options.displayWidth = 1920;
    options.displayHeight = 1080;
    TouchCalibration calibration(options);
    ASSERT_EQ(calibration.targets().size(), 20u);

    // The person: waits 5 frames after a target appears, touches it (the
    // eighth 150 display pixels off), wobbles a little while holding and
    // lifts as soon as it is measured. The third target is held on for a
    // second more, then lifted: that must not measure the fourth.
    const int misclick = 7;
    int frame = 0, shownAt = 0, measuredAt = -100;
    std::size_t shown = 0;
    while (calibration.CurrentTarget() && frame < 2000) {
        const std::size_t target = calibration.measurements().size();
        if (target != shown) {
            shown = target;
            shownAt = frame;
        }
        std::vector<cv::Point2d> fingers;
        const bool stillOnThird = shown == 3 && frame - measuredAt < 30;
        if (stillOnThird) {
            fingers.push_back(camera.CameraOf(calibration.targets()[2]));
        } else if (frame >= 15 && frame - shownAt >= 5 && (shown != 3 || frame - measuredAt >= 35)) {
            cv::Point2d aim = *calibration.CurrentTarget();
            if (shown == misclick) {
                aim += cv::Point2d(150, -90);
            }
            fingers.push_back(camera.CameraOf(aim) + 0.4 * cv::Point2d(std::sin(frame), std::cos(0.7 * frame)));
        }
        const TouchCalibrationStatus status = calibration.Feed(camera.RenderAt(frame, fingers));
        if (status.phase == TouchCalibrationStatus::Measured) {
            measuredAt = frame;
            EXPECT_GE(frame - shownAt, 5 + 12);  // held 0.4 s at 30 frames a second
        }
        if (frame < 15) {
            EXPECT_EQ(status.phase, TouchCalibrationStatus::Learning);
        }
        if (stillOnThird && status.phase != TouchCalibrationStatus::Measured) {
            EXPECT_EQ(status.phase, TouchCalibrationStatus::WaitingLift);
        }
        ++frame;
    }
    ASSERT_FALSE(calibration.CurrentTarget().has_value());
    ASSERT_EQ(calibration.measurements().size(), 20u);
    EXPECT_EQ(calibration.Feed(camera.RenderAt(frame, {})).phase, TouchCalibrationStatus::Done);

    const quarvel::FitResult fit = calibration.Result();
    ASSERT_TRUE(fit.ok) << fit.reason;
    EXPECT_EQ(fit.params.imageWidth, 640);
    EXPECT_EQ(fit.params.imageHeight, 480);
    EXPECT_FALSE(fit.pairs[misclick].inlier);
    EXPECT_EQ(fit.used, 19);
    const double heldOut = quarvel::test::HeldOutRms(camera.truth(), quarvel::Model(fit.params), true);
    std::printf("touch calibration, 5 x 4 targets, 640x480 camera, one misclick: %d frames, fit rms %.3f px, "
                "held-out rms %.4f px (target 0.3), misclick rejected: %s\n",
                frame, fit.rms, heldOut, fit.pairs[misclick].inlier ? "no" : "yes");
    EXPECT_LE(heldOut, 0.3);
}

TEST(TouchCalibration, WithoutTargetsOrFramesThereIsNothingToFit) {
    quarvel::TouchCalibrationOptions options;  // no display size
    TouchCalibration none(options);
    EXPECT_FALSE(none.CurrentTarget().has_value());
    EXPECT_EQ(none.Feed(cv::Mat()).phase, TouchCalibrationStatus::Done);

    options.displayWidth = 1280;
    options.displayHeight = 800;
    TouchCalibration fresh(options);
    ASSERT_TRUE(fresh.CurrentTarget().has_value());
    EXPECT_EQ(*fresh.CurrentTarget(), cv::Point2d(160, 100));  // inset 1/8
    const quarvel::FitResult fit = fresh.Result();
    EXPECT_FALSE(fit.ok);
    EXPECT_FALSE(fit.reason.empty());
}

}  // namespace
