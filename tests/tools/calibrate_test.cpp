// quarvel calibrate: fitting measured pairs, driving targets, refusing
// what cannot be trusted.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <quarvel/calibration.h>
#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"
#include "support/synthetic.h"
#include "support/tool.h"

namespace {

using quarvel::test::Slurp;
using Result = quarvel::test::ProcessResult;

class ToolCalibrate : public quarvel::test::ToolTest {};

// Pairs a detector would give for a barrel of corner magnification 1.2 and
// a mild keystone on a 1920 x 1080 display, on the tool's target grid.
std::vector<quarvel::PointPair> MeasuredPairs(int cols, int rows) {
    quarvel::CalibrationParams truth;
    truth.imageWidth = 1280;
    truth.imageHeight = 720;
    truth.focalZ = static_cast<float>(std::sqrt((640.0 * 640 + 360.0 * 360) / (1 - 1 / 1.2)));
    truth.matrix = cv::Matx33f(1.2f, 0.02f, 30, -0.01f, 1.2f, 20, 2e-5f, 3e-5f, 1);
    return quarvel::test::Pairs(quarvel::Model(truth, cv::Size(1920, 1080)), cols, rows);
}

TEST_F(ToolCalibrate, CalibrateWritesAFileThatLoadsAndCorrectsTheTargets) {
    const std::string pairs = dir.Write("pairs.txt", quarvel::test::PairsText(MeasuredPairs(5, 4)));
    const std::string base = Example("calibration.ini");
    for (const bool utf8 : {false, true}) {
        const std::string out = (dir.path() / (utf8 ? "u.ini" : "g.ini")).string();
        const std::string report = (dir.path() / "report.png").string();
        std::vector<std::string> args = {"calibrate", pairs, "--image", "1280x720", "--display=1920x1080",
                                         "-o", out, "--base", base, "--report", report};
        if (utf8) {
            args.push_back("--utf8");
        }
        const Result r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err << r.out;
        EXPECT_NE(r.out.find("rms 0.0"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(", 20 of 20 pairs used"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("corner magnification 1.2"), std::string::npos) << r.out;
        const cv::Mat picture = cv::imread(report);
        EXPECT_EQ(picture.size(), cv::Size(1920, 1080));

        Quarvel loaded;
        loaded.SetDisplaySize(1920, 1080);
        ASSERT_TRUE(loaded.ReadIniParam(out));
        const quarvel::LoadReport lr = loaded.GetLoadReport();
        EXPECT_EQ(lr.encoding, utf8 ? quarvel::Encoding::Utf8 : quarvel::Encoding::Gbk);
        EXPECT_EQ(lr.entries[10].value, static_cast<double>(0.5f));  // 旋转角度 from --base
        EXPECT_EQ(lr.entries[9].value, 1.0);                         // 映射平面法向量2
        EXPECT_EQ(lr.calibratedWidth, 1920);
        std::istringstream lines(Slurp(pairs));
        std::string line;
        while (std::getline(lines, line)) {
            double x, y, X, Y;
            if (std::sscanf(line.c_str(), "%lf %lf %lf %lf", &x, &y, &X, &Y) == 4) {
                const CvPoint d = loaded.CorrectPoint(cvPoint(static_cast<int>(x), static_cast<int>(y)));
                EXPECT_LE(std::abs(d.x - X), 3) << line;  // the camera point truncated: within a couple of pixels
                const cv::Point2d s = loaded.CorrectPointSubpixel(cv::Point2d(x, y));
                EXPECT_NEAR(s.x, X, 0.05) << line;
                EXPECT_NEAR(s.y, Y, 0.05) << line;
            }
        }
    }
    // check warns when the file is loaded on a display of another size.
    const Result other = Run({"check", "--display", "1280x1024", (dir.path() / "g.ini").string()});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.out.find("calibrated for a 1920 x 1080 display but is loaded on 1280 x 1024"), std::string::npos)
        << other.out;
}


TEST_F(ToolCalibrate, CalibrateRefusesWhatItCannotTrust) {
    const std::string out = (dir.path() / "none.ini").string();
    const std::string few = dir.Write("few.txt", "1 2 100 100\n500 2 600 100\n1 400 100 500\n");
    const Result r = Run({"calibrate", few, "--image", "1280x720", "--display", "1920x1080", "-o", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("fewer than 4"), std::string::npos) << r.err;
    const std::string line = dir.Write("line.txt", "1 2 100 100\n100 2 200 100\n200 2 300 100\n300 2 400 100\n400 2 500 100\n");
    const Result collinear = Run({"calibrate", line, "--image", "1280x720", "--display", "1920x1080", "-o", out});
    EXPECT_EQ(collinear.status, 1);
    EXPECT_NE(collinear.err.find("one line"), std::string::npos) << collinear.err;
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "a file was written";

    const std::string bad = dir.Write("bad.txt", "1 2 3 4\n5 6 seven 8\n");
    const Result malformed = Run({"calibrate", bad, "--image", "1280x720", "--display", "1920x1080", "-o", out});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find("line 2"), std::string::npos) << malformed.err;
    EXPECT_EQ(Run({"calibrate", bad, "-o", out}).status, 2);  // no --image
}


TEST_F(ToolCalibrate, BaseTakesAFileOfOnlyTheEntriesItCarriesOver) {
    const std::string pairs = dir.Write("pairs.txt", quarvel::test::PairsText(MeasuredPairs(5, 4)));
    const std::string out = (dir.path() / "rotated.ini").string();
    const std::string report = (dir.path() / "rotated.png").string();
    const std::string rotation = dir.Write("rotation.ini", "[\xD0\xFD\xD7\xAA\xB2\xCE\xCA\xFD]\n"
                                                           "\xD0\xFD\xD7\xAA\xBD\xC7\xB6\xC8=0.5\n");
    const Result r = Run({"calibrate", pairs, "--image", "1280x720", "--display", "1920x1080", "-o", out, "--base",
                          rotation, "--utf8", "--report", report});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    const quarvel::ParameterFile written = quarvel::ReadParameterFile(out);
    ASSERT_TRUE(written.ok) << written.reason;
    EXPECT_EQ(written.report.encoding, quarvel::Encoding::Utf8);
    EXPECT_EQ(written.params.rotateAngle, 0.5f);
    EXPECT_EQ(cv::imread(report).size(), cv::Size(1920, 1080));

    // What it cannot read or parse is still refused, and nothing is written.
    const std::string refused = (dir.path() / "refused.ini").string();
    const struct {
        std::string base;
        const char* says;
    } bases[] = {
        {dir.Write("garbage.ini", "not a parameter file\n"), "holds none of a parameter file's entries"},
        {dir.Write("nan.ini", "[\xD0\xFD\xD7\xAA\xB2\xCE\xCA\xFD]\n\xD0\xFD\xD7\xAA\xBD\xC7\xB6\xC8=half\n"),
         "is not a number"},
        {(dir.path() / "missing.ini").string(), "cannot read parameter file"},
    };
    for (const auto& b : bases) {
        const Result bad = Run({"calibrate", pairs, "--image", "1280x720", "--display", "1920x1080", "-o", refused,
                                "--base", b.base});
        EXPECT_EQ(bad.status, 2) << b.says;
        EXPECT_NE(bad.err.find(b.says), std::string::npos) << bad.err;
    }
    EXPECT_NE(access(refused.c_str(), F_OK), 0);
}

TEST_F(ToolCalibrate, EveryModeRefusesAnOptionItWouldIgnore) {
    const std::string pairs = dir.Write("pairs.txt", quarvel::test::PairsText(MeasuredPairs(3, 3)));
    const std::string out = (dir.path() / "x.ini").string();
    const std::string video = Example("touch-clip.avi");
    const std::string params = Example("touch-surface.ini");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"calibrate", pairs, "--image", "1280x720", "--display", "1920x1080", "-o", out, "--finger", "12"},
         "--finger-diameter is only for --touch"},
        {{"calibrate", pairs, "--image", "1280x720", "--display", "1920x1080", "-o", out, "--threshold", "20"},
         "--threshold is only for --touch"},
        {{"track", params, "--video", video, "--camera-timeout", "5"}, "--camera-timeout is only for --camera"},
        {{"track", params, "--camera", video, "--fps", "30"}, "--frames-per-second is only for --video"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    // The help names each option as the library does; the old spellings
    // still work.
    const Result help = Run({"track", "--help"});
    for (const char* name : {"--absorb-seconds", "--frames-per-second", "--finger-diameter", "--coast-frames"}) {
        EXPECT_NE(help.out.find(name), std::string::npos) << name;
    }
    const Result old = Run({"track", params, "--video", video, "--fps", "30", "--still-seconds", "4", "--finger", "10"});
    EXPECT_EQ(old.status, 0) << old.err;
}

TEST_F(ToolCalibrate, CalibrateTargetsModeIsDrivenThroughAPipe) {
    std::string answers;
    for (const quarvel::PointPair& p : MeasuredPairs(3, 3)) {
        answers += std::to_string(p.camera.x) + " " + std::to_string(p.camera.y) + "\n";
    }
    const std::string out = (dir.path() / "targets.ini").string();
    const Result r = Run({"calibrate", "--targets", "3x3", "--image", "1280x720", "--display", "1920x1080", "-o", out},
                         answers);
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.out.rfind("target 1: 240 135\ntarget 2: 960 135\ntarget 3: 1680 135\ntarget 4: 240 540\n", 0), 0u)
        << r.out;
    EXPECT_NE(r.out.find("target 9: 1680 945\n"), std::string::npos);
    EXPECT_NE(r.out.find(", 9 of 9 pairs used"), std::string::npos) << r.out;
    const Result early = Run({"calibrate", "--targets", "3x3", "--image", "1280x720", "--display", "1920x1080", "-o",
                              out + "2"},
                             "1 1\n");
    EXPECT_EQ(early.status, 2);
    EXPECT_NE(early.err.find("before target 2"), std::string::npos) << early.err;
}

}  // namespace
