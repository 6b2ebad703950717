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
        if (status.phase == TouchCalibrationStatus::Phase::Measured) {
            measuredAt = frame;
            EXPECT_GE(frame - shownAt, 5 + 12);  // held 0.4 s at 30 frames a second
        }
        if (frame < 15) {
            EXPECT_EQ(status.phase, TouchCalibrationStatus::Phase::Learning);
        }
        if (stillOnThird && status.phase != TouchCalibrationStatus::Phase::Measured) {
            EXPECT_EQ(status.phase, TouchCalibrationStatus::Phase::WaitingLift);
        }
        ++frame;
    }
    ASSERT_FALSE(calibration.CurrentTarget().has_value());
    ASSERT_EQ(calibration.measurements().size(), 20u);
    EXPECT_EQ(calibration.Feed(camera.RenderAt(frame, {})).phase, TouchCalibrationStatus::Phase::Done);

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
    EXPECT_EQ(none.Feed(cv::Mat()).phase, TouchCalibrationStatus::Phase::Done);

    options.displayWidth = 1280;
    options.displayHeight = 800;
    TouchCalibration fresh(options);
    ASSERT_TRUE(fresh.CurrentTarget().has_value());
    EXPECT_EQ(*fresh.CurrentTarget(), cv::Point2d(160, 100));  // inset 1/8
    const quarvel::FitResult fit = fresh.Result();
    EXPECT_FALSE(fit.ok);
    EXPECT_FALSE(fit.reason.empty());
}

// A touch calibration for 1920 x 1080 on the simulated 640 x 480 camera,
// its background learned; Feed renders the next frame with fingers at
// camera positions.
struct Session {
    explicit Session(quarvel::TouchCalibrationOptions options = quarvel::TouchCalibrationOptions())
        : camera(quarvel::test::TouchTruth(cv::Size(640, 480)), quarvel::test::IrOptions()),
          calibration(WithDisplay(options)) {
        for (int i = 0; i < 15; ++i) {
            Feed({});
        }
    }
    static quarvel::TouchCalibrationOptions WithDisplay(quarvel::TouchCalibrationOptions o) {
        o.displayWidth = 1920;
        o.displayHeight = 1080;
        return o;
    }
    TouchCalibrationStatus Feed(const std::vector<cv::Point2d>& fingers) {
        return calibration.Feed(camera.RenderAt(frame++, fingers));
    }
    quarvel::test::IrCamera camera;
    TouchCalibration calibration;
    int frame = 0;
};

TEST(TouchCalibration, ASlidingFingerOrAnOddFrameStartsTheHoldAgain) {
    quarvel::TouchCalibrationOptions options;
    options.holdSeconds = std::nan("");  // not a time: the default 0.4 s
    Session session(options);
    quarvel::test::IrCamera& camera = session.camera;
    TouchCalibration& calibration = session.calibration;
    int& frame = session.frame;
    const auto feed = [&](std::vector<cv::Point2d> fingers) { return session.Feed(fingers); };
    const cv::Point2d target = camera.CameraOf(*calibration.CurrentTarget());
    // Sliding 1 px a frame towards the target for 20 frames never holds
    // still long enough: only the last few positions lie within 2 px.
    for (int i = 20; i > 0; --i) {
        const TouchCalibrationStatus sliding = feed({target + cv::Point2d(i, 0)});
        EXPECT_EQ(sliding.phase, TouchCalibrationStatus::Phase::Holding);
        EXPECT_LT(sliding.held, 0.2);
    }
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(feed({target}).phase, TouchCalibrationStatus::Phase::Holding);
    }
    // A frame the detector cannot read counts as a lifted finger.
    EXPECT_EQ(calibration.Feed(cv::Mat(480, 640, CV_16UC1, cv::Scalar(5000))).phase,
              TouchCalibrationStatus::Phase::WaitingTouch);
    ++frame;
    TouchCalibrationStatus s;
    int holding = 0;
    while ((s = feed({target})).phase == TouchCalibrationStatus::Phase::Holding) {
        ++holding;
    }
    EXPECT_EQ(s.phase, TouchCalibrationStatus::Phase::Measured);
    EXPECT_EQ(holding, 12);  // 0.4 s at 30 frames a second, from the start again
    ASSERT_EQ(calibration.measurements().size(), 1u);
    EXPECT_NEAR(calibration.measurements()[0].camera.x, target.x, 0.05);
    EXPECT_NEAR(calibration.measurements()[0].camera.y, target.y, 0.05);

    // Another camera size: what was measured does not fit the new frames.
    EXPECT_EQ(calibration.Feed(cv::Mat(240, 320, CV_8UC1, cv::Scalar(40))).phase, TouchCalibrationStatus::Phase::Learning);
    EXPECT_TRUE(calibration.measurements().empty());
}

TEST(TouchCalibration, SomethingThatStaysInViewIsTakenAsBackgroundAfterTheWait) {
    Session session;
    quarvel::test::IrCamera& camera = session.camera;
    TouchCalibration& calibration = session.calibration;
    const int& frame = session.frame;
    const auto feed = [&](std::vector<cv::Point2d> fingers) { return session.Feed(fingers); };
    const cv::Point2d first = camera.CameraOf(*calibration.CurrentTarget());
    TouchCalibrationStatus s;
    while ((s = feed({first})).phase != TouchCalibrationStatus::Phase::Measured && frame < 100) {
    }
    ASSERT_EQ(s.phase, TouchCalibrationStatus::Phase::Measured);
    // The finger lifts, but a glint has come up elsewhere and stays: the
    // calibration says where the thing keeping it waiting is, for 3 s, then
    // takes it into the background and goes on.
    const cv::Point2d glint(500.25, 400.5);
    int waiting = 0;
    while ((s = feed({glint})).phase == TouchCalibrationStatus::Phase::WaitingLift) {
        EXPECT_NEAR(s.camera.x, glint.x, 0.2);
        EXPECT_NEAR(s.camera.y, glint.y, 0.2);
        EXPECT_NEAR(s.waited, (waiting + 1) / 30.0, 1e-9);
        ++waiting;
    }
    EXPECT_EQ(waiting, 89);  // 3 s at 30 frames a second, counted from the measurement
    EXPECT_EQ(s.phase, TouchCalibrationStatus::Phase::WaitingTouch);
    EXPECT_EQ(s.absorbed, 1);
    // With the glint still there, the next target is measured where it is
    // touched.
    const cv::Point2d second = camera.CameraOf(*calibration.CurrentTarget());
    while ((s = feed({glint, second})).phase != TouchCalibrationStatus::Phase::Measured && frame < 400) {
        EXPECT_NE(s.phase, TouchCalibrationStatus::Phase::WaitingLift);
    }
    ASSERT_EQ(calibration.measurements().size(), 2u);
    EXPECT_NEAR(calibration.measurements()[1].camera.x, second.x, 0.1);
    EXPECT_NEAR(calibration.measurements()[1].camera.y, second.y, 0.1);
}

}  // namespace
