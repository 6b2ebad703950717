// quarvel pattern and calibrate --frame / --camera: calibrating by looking,
// on frames of the simulated rig.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/pattern.h>
#include <quarvel/quarvel.h>

#include "support/camera_rig.h"
#include "support/lens_truth.h"
#include "support/synthetic.h"
#include "support/tool.h"
#include "support/xvfb.h"

namespace {

class ToolLook : public quarvel::test::ToolTest {
protected:
    // A camera of `camera` size seeing the whole `display` and the wall
    // around it through a barrel and a keystone.
    static quarvel::Model Truth(cv::Size camera, cv::Size display) {
        return quarvel::Model(quarvel::test::TruthFor(1.2, camera, display, 0.04, 1.25), display);
    }
};

TEST_F(ToolLook, PatternWritesTheLibrarysPattern) {
    const std::string out = (dir.path() / "pattern.png").string();
    const auto r = Run({"pattern", "--display", "1280x800", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("calibration pattern for a 1280 x 800 display written to"), std::string::npos) << r.out;
    EXPECT_EQ(cv::norm(cv::imread(out, cv::IMREAD_UNCHANGED), quarvel::MakeCalibrationPattern(1280, 800).picture, cv::NORM_INF),
              0.0);
    ASSERT_EQ(Run({"pattern", "--display", "1280x800", "--validation", "-o", out}).status, 0);
    EXPECT_EQ(cv::norm(cv::imread(out, cv::IMREAD_UNCHANGED), quarvel::MakeValidationPattern(1280, 800).picture, cv::NORM_INF),
              0.0);
    EXPECT_EQ(Run({"pattern", "--display", "20x10", "-o", out}).status, 2);
    EXPECT_EQ(Run({"pattern", "--display", "1280x800"}).status, 2);
}

TEST_F(ToolLook, CalibrateFromOneFrame) {
    const cv::Size display(1920, 1080);
    const quarvel::Model truth = Truth(cv::Size(1920, 1080), display);
    quarvel::test::CameraRig rig(truth, quarvel::test::RigOptions());
    const std::string frame = dir.Write("frame.png", "");
    ASSERT_TRUE(cv::imwrite(frame, rig.See(quarvel::MakeCalibrationPattern(1920, 1080).picture)));
    const std::string out = (dir.path() / "look.ini").string();
    const std::string report = (dir.path() / "report.png").string();
    const auto r = Run({"calibrate", "--frame", frame, "--display", "1920x1080", "-o", out, "--report", report});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("corners ("), std::string::npos) << r.out;
    // The camera saw the whole pattern, whose corners stop a square short of
    // the display's edges: it says both, so neither reads as a camera that
    // misses part of the display.
    EXPECT_NE(r.out.find("in the 1920 x 1080 frame: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" % of the pattern seen, the corners found spanning "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pairs used"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
    EXPECT_EQ(cv::imread(report).size(), cv::Size(1920, 1080));
    const quarvel::ParameterFile written = quarvel::ReadParameterFile(out);
    ASSERT_TRUE(written.read);
    const double heldOut = quarvel::test::HeldOutRms(truth, quarvel::Model(written.params), true);
    EXPECT_LE(heldOut, 0.05);
    std::printf("calibrate --frame on a 1920 x 1080 frame: held-out rms %.4f px\n", heldOut);
}

// Through a wide lens (OpenCV's camera model): a lens stage in its own
// section, the expected error over the display printed and honest, and
// --plain writing the barrel and matrix alone (what the stage's file holds
// in its original sections), with a plain warning.
TEST_F(ToolLook, AWideLensGetsALensStageAndAnHonestFigure) {
    const cv::Size display(1920, 1080);
    const cv::Size camera(1280, 720);
    const quarvel::test::LensTruth truth(quarvel::test::WiderLens(), camera, display);
    quarvel::test::CameraRig rig(camera, display, truth.Mapping(), quarvel::test::RigOptions());
    const std::string frame = dir.Write("wide.png", "");
    ASSERT_TRUE(cv::imwrite(frame, rig.See(quarvel::MakeCalibrationPattern(1920, 1080).picture)));
    const struct {
        bool plain;
        const char* model;
        double heldOut;  // the most the file may be off over the view
        bool warns;
    } cases[] = {{false, "model: polynomial lens stage in front of the barrel and matrix", 0.15, false},
                 {true, "model: barrel and matrix", 1e9, true}};
    std::vector<quarvel::CalibrationParams> written;
    for (const auto& c : cases) {
        const std::string out = (dir.path() / (c.plain ? "plain.ini" : "lens.ini")).string();
        std::vector<std::string> args = {"calibrate", "--frame", frame, "--display", "1920x1080", "-o", out};
        if (c.plain) {
            args.push_back("--plain");
        }
        const auto r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        EXPECT_NE(r.out.find(c.model), std::string::npos) << r.out;
        const std::string label = "expected error over the display: ";
        const std::size_t at = r.out.find(label);
        ASSERT_NE(at, std::string::npos) << r.out;
        const double expected = std::atof(r.out.c_str() + at + label.size());
        EXPECT_EQ(r.out.find("warning: expect errors above half a pixel") != std::string::npos, c.warns) << r.out;
        const quarvel::ParameterFile file = quarvel::ReadParameterFile(out);
        ASSERT_TRUE(file.ok) << file.reason;
        EXPECT_EQ(file.params.lens.active(), !c.plain);
        const quarvel::Model fitted(file.params, display);
        const quarvel::test::HeldOut h =
            quarvel::test::HeldOutError(truth, [&fitted](const cv::Point2d& p) { return fitted.CorrectPointSubpixel(p); });
        EXPECT_LE(h.rms, c.heldOut);
        // Never flattering: at least half of what the truth says.
        EXPECT_GE(expected, 0.5 * h.rms) << r.out;
        std::printf("wide lens%s: held-out %.4f px rms, %.3f px max; expected %.4f px\n", c.plain ? ", --plain" : "",
                    h.rms, h.max, expected);
        written.push_back(file.params);
        const auto check = Run({"check", "--display", "1920x1080", out});
        EXPECT_NE(check.out.find(c.plain ? "lens stage: none" : "lens stage: polynomial, in front of"),
                  std::string::npos)
            << check.out;
    }
    // The stage's file keeps the plain fit in its original sections.
    EXPECT_EQ(written[0].focalZ, written[1].focalZ);
    EXPECT_EQ(written[0].matrix, written[1].matrix);
}

TEST_F(ToolLook, AFrameWithoutThePatternWritesNothing) {
    const std::string frame = dir.Write("blank.png", "");
    ASSERT_TRUE(cv::imwrite(frame, cv::Mat(480, 640, CV_8UC1, cv::Scalar(90))));
    const std::string out = (dir.path() / "none.ini").string();
    const auto r = Run({"calibrate", "--frame", frame, "--display", "1280x800", "-o", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no pattern in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing written"), std::string::npos) << r.err;
    EXPECT_NE(access(out.c_str(), F_OK), 0);
    const auto size = Run({"calibrate", "--frame", frame, "--image", "1280x720", "--display", "1280x800", "-o", out});
    EXPECT_EQ(size.status, 2);
    EXPECT_NE(size.err.find("does not match the frame's 640x480"), std::string::npos) << size.err;
    EXPECT_EQ(Run({"calibrate", "--frame", "/nonexistent.png", "--display", "1280x800", "-o", out}).status, 2);
    EXPECT_EQ(Run({"calibrate", "--frame", frame, "--targets", "3x3", "-o", out}).status, 2);  // one mode at a time
}

TEST_F(ToolLook, CalibrateLiveFromACameraSource) {
    // What the camera recorded while the tool showed its patterns: a few
    // frames still dark, then the calibration pattern settling, then (the
    // camera lagging the screen) the validation pattern.
    const cv::Size display(1280, 800);
    const quarvel::Model truth = Truth(cv::Size(640, 480), display);
    quarvel::test::CameraRig rig(truth, quarvel::test::RigOptions());
    const cv::Mat black = cv::Mat::zeros(display, CV_8UC1);
    int number = 0;
    const auto record = [&](const cv::Mat& picture, int frames) {
        for (int i = 0; i < frames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%04d.png", number++);
            ASSERT_TRUE(cv::imwrite((dir.path() / name).string(), rig.See(picture, i < 4 ? 0.6 + 0.1 * i : 1.0)));
        }
    };
    record(black, 3);
    record(quarvel::MakeCalibrationPattern(1280, 800).picture, 14);
    record(quarvel::MakeValidationPattern(1280, 800).picture, 16);
    const std::string source = (dir.path() / "%04d.png").string();
    const std::string out = (dir.path() / "live.ini").string();

    // Without a display the patterns cannot be shown.
    const auto headless = Run({"calibrate", "--camera", source, "--display", "1280x800", "-o", out});
    EXPECT_EQ(headless.status, 2);
    EXPECT_NE(headless.err.find("no X display can be reached"), std::string::npos) << headless.err;

    quarvel::test::Xvfb server("1280x800x24", true);
    ASSERT_TRUE(server.running());
    const auto r = quarvel::test::RunProcess(tool_, {"calibrate", "--camera", source, "--display", "1280x800", "-o", out},
                                             "", {"DISPLAY=" + server.name()});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("calibration pattern: frame 1, 0 corners"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("settled: 5 of 5 frames gathered"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("validation pattern: frame"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("validation through the camera: rms"), std::string::npos) << r.out;
    const quarvel::ParameterFile written = quarvel::ReadParameterFile(out);
    ASSERT_TRUE(written.read);
    EXPECT_LE(quarvel::test::HeldOutRms(truth, quarvel::Model(written.params), true), 0.08);
}

}  // namespace
