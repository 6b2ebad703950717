// Calibrating through a camera the host drives: on the simulated rig,
// with frames that lag the picture and an exposure that settles; and what
// happens when the camera misbehaves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "camera/scenario.h"
#include "support/synthetic.h"

namespace {

using quarvel::CalibrateWithCamera;
using quarvel::CameraCalibrationOptions;
using quarvel::CameraCalibrationResult;

CameraCalibrationOptions Options(cv::Size display) {
    CameraCalibrationOptions o;
    o.displayWidth = display.width;
    o.displayHeight = display.height;
    return o;
}

TEST(LiveCalibration, LaggingFramesAndASettlingExposure) {
    for (const bool mirrored : {false, true}) {
        quarvel::test::Scenario s;
        s.mirrored = mirrored;
        const quarvel::Model truth = quarvel::test::TruthOf(s);
        quarvel::test::CameraRig rig(truth, s.rig);
        int calls = 0;
        CameraCalibrationOptions options = Options(s.display);
        int lastFrame = 0;
        options.progress = [&](const quarvel::CameraProgress& p) {
            lastFrame = p.frame;
            return true;
        };
        const auto lagging = rig.Capture(2, 6);
        const CameraCalibrationResult r = CalibrateWithCamera(
            [&](const cv::Mat& shown) {
                ++calls;
                EXPECT_EQ(shown.size(), s.display);
                return lagging(shown);
            },
            options);
        ASSERT_TRUE(r.ok) << r.reason;
        const double heldOut = quarvel::test::HeldOutRms(truth, quarvel::Model(r.fit.params), true);
        EXPECT_LE(heldOut, 0.05) << s.Name();
        EXPECT_LE(std::abs(r.validationRms - heldOut), 0.1) << s.Name();
        EXPECT_EQ(r.framesUsed, 10);
        EXPECT_EQ(r.framesRead, calls);
        EXPECT_EQ(lastFrame, calls);
        EXPECT_GT(r.framesRead, 14);  // the lag and the exposure were waited out
        EXPECT_EQ(r.cameraSize, s.camera);
        EXPECT_EQ(r.detection.mirrored, mirrored);
        EXPECT_GT(r.validationPairs, 60);
        std::printf("%s, 2 frames of lag, exposure settling over 6: %d frames read, held-out rms %.4f px, validation "
                    "rms %.4f px (max %.3f) through the camera\n",
                    s.Name().c_str(), r.framesRead, heldOut, r.validationRms, r.validationMax);
    }
}

TEST(LiveCalibration, ACameraThatMisbehavesEndsItWithAReason) {
    const cv::Size display(1280, 800);
    CameraCalibrationOptions options = Options(display);
    options.maxFrames = 12;
    const cv::Mat black(480, 640, CV_8UC1, cv::Scalar(0));
    CameraCalibrationResult r = CalibrateWithCamera([&](const cv::Mat&) { return black; }, options);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("did not settle in the camera within 12 frames (it was never seen)"), std::string::npos)
        << r.reason;
    EXPECT_EQ(r.framesRead, 12);

    r = CalibrateWithCamera([](const cv::Mat&) { return cv::Mat(); }, options);
    EXPECT_EQ(r.reason, "the camera gave no frame");
    r = CalibrateWithCamera([](const cv::Mat&) -> cv::Mat { throw std::runtime_error("unplugged"); }, options);
    EXPECT_EQ(r.reason, "the camera failed: unplugged");
    int n = 0;
    r = CalibrateWithCamera([&](const cv::Mat&) { return cv::Mat(++n < 3 ? 480 : 240, 640, CV_8UC1); }, options);
    EXPECT_EQ(r.reason, "the camera's frame size changed");
    r = CalibrateWithCamera([](const cv::Mat&) { return cv::Mat(480, 640, CV_16UC1, cv::Scalar(900)); }, options);
    EXPECT_EQ(r.reason, "the camera's frames are not 8-bit grey, BGR or BGRA images");
    r = CalibrateWithCamera([](const cv::Mat&) -> cv::Mat { throw 7; }, options);
    EXPECT_EQ(r.reason, "the camera failed");

    // A camera frozen on the calibration pattern: the fit is made, but its
    // validation is never seen, and the result says so rather than ok.
    quarvel::test::Scenario frozen;
    frozen.camera = cv::Size(640, 480);
    frozen.display = display;
    quarvel::test::CameraRig rig(quarvel::test::TruthOf(frozen), frozen.rig);
    const cv::Mat still = rig.See(quarvel::MakeCalibrationPattern(display.width, display.height).picture);
    r = CalibrateWithCamera([&](const cv::Mat&) { return still; }, options);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.fit.ok) << r.fit.reason;
    EXPECT_NE(r.reason.find("the validation pattern did not settle"), std::string::npos) << r.reason;
    r = CalibrateWithCamera(nullptr, options);
    EXPECT_FALSE(r.ok);
    r = CalibrateWithCamera([&](const cv::Mat&) { return black; }, Options(cv::Size(0, 0)));
    EXPECT_NE(r.reason.find("display size"), std::string::npos) << r.reason;

    options.progress = [](const quarvel::CameraProgress& p) { return p.frame < 3; };
    r = CalibrateWithCamera([&](const cv::Mat&) { return black; }, options);
    EXPECT_EQ(r.reason, "aborted");
    EXPECT_EQ(r.framesRead, 3);
    EXPECT_TRUE(std::isnan(r.validationRms));
}

}  // namespace
