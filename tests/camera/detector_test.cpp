// What the detector says of frames that do not show the pattern, and the
// frame types it takes.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "camera/scenario.h"

namespace {

TEST(PatternDetector, AFrameWithoutThePatternGivesNoPairsAndSaysSo) {
    cv::Mat noise(720, 1280, CV_8UC1);
    cv::randu(noise, 0, 255);
    cv::Mat chessboard(720, 1280, CV_8UC1);
    for (int y = 0; y < 720; ++y) {
        for (int x = 0; x < 1280; ++x) {
            chessboard.at<unsigned char>(y, x) = ((x / 80 + y / 80) % 2) * 255;
        }
    }
    for (const cv::Mat& frame : {cv::Mat(720, 1280, CV_8UC1, cv::Scalar(128)), noise, chessboard}) {
        const quarvel::PatternDetection d = quarvel::DetectCalibrationPattern(frame, 1920, 1080);
        EXPECT_TRUE(d.pairs.empty());
        EXPECT_EQ(d.coverage, 0.0);
        EXPECT_FALSE(d.mirrored);
        EXPECT_NE(d.reason.find("not in the frame"), std::string::npos) << d.reason;
    }
}

TEST(PatternDetector, TakesGreyBgrAndBgraFramesAndRefusesOthers) {
    quarvel::test::Scenario s;
    s.camera = cv::Size(640, 480);
    s.display = cv::Size(1280, 800);
    quarvel::test::CameraRig rig(quarvel::test::TruthOf(s), s.rig);
    const cv::Mat grey = rig.See(quarvel::MakeCalibrationPattern(1280, 800).picture);
    cv::Mat bgr;
    cv::Mat bgra;
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    cv::cvtColor(grey, bgra, cv::COLOR_GRAY2BGRA);
    const quarvel::PatternDetection fromGrey = quarvel::DetectCalibrationPattern(grey, 1280, 800);
    ASSERT_GT(fromGrey.pairs.size(), 60u) << fromGrey.reason;
    for (const cv::Mat& colour : {bgr, bgra}) {
        const quarvel::PatternDetection d = quarvel::DetectCalibrationPattern(colour, 1280, 800);
        ASSERT_EQ(d.pairs.size(), fromGrey.pairs.size());
        EXPECT_EQ(d.pairs.front().camera, fromGrey.pairs.front().camera);
    }
    cv::Mat wide;
    grey.convertTo(wide, CV_16U, 256);
    for (const cv::Mat& bad : {wide, cv::Mat(), cv::Mat(480, 640, CV_8UC2)}) {
        const quarvel::PatternDetection d = quarvel::DetectCalibrationPattern(bad, 1280, 800);
        EXPECT_TRUE(d.pairs.empty());
        EXPECT_NE(d.reason.find("8-bit grey, BGR or BGRA"), std::string::npos) << d.reason;
    }
}

}  // namespace
