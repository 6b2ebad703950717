// quarvel check: the report on a parameter file and its warnings.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <quarvel/calibration.h>
#include <quarvel/parameter_file.h>
#include <quarvel/pattern.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"
#include "support/synthetic.h"
#include "support/camera_rig.h"
#include "support/tool.h"
#include "support/wall_rig.h"

namespace {

using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::ToGbk;
using Result = quarvel::test::ProcessResult;

class ToolCheck : public quarvel::test::ToolTest {};

TEST_F(ToolCheck, CheckPassesTheExamples) {
    for (const auto& [file, encoding] : {std::pair{"calibration.ini", "encoding: GBK"},
                                         std::pair{"calibration-utf8.ini", "encoding: UTF-8"}}) {
        const Result r = Run({"check", Example(file)});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(encoding), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("[桶形校正参数] 焦点Z值 = 1800"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("[矩阵参数] a21 = 4e-05"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("display: 1680 x 1050 (fallback: no X server or Wayland compositor answered"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("output image: 1536 x 864, centre (768, 432), scale 1"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("result: OK"), std::string::npos) << r.out;
    }
}


TEST_F(ToolCheck, CheckReportsMissingAndMalformedEntries) {
    std::vector<quarvel::test::IniLine> lines = CalibrationLines(640, 480, 900.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"});
    lines.pop_back();                // a22
    lines.erase(lines.begin() + 3);  // 映射顶点
    lines[0].value = "64O";
    const Result r = Run({"check", dir.Write("partial.ini", ToGbk(IniText(lines)))});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("[梯形校正参数] 映射顶点 = missing"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[矩阵参数] a22 = missing"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[图像参数] 图像宽度 = not a number: \"64O\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("result: FAILED (2 missing, 1 not a number"), std::string::npos) << r.out;
}


TEST_F(ToolCheck, CheckWarnsAboutUnusableCalibrations) {
    const std::vector<std::string> identity = {"1", "0", "0", "0", "1", "0", "0", "0", "1"};
    const Result shortFocal = Run({"check", dir.Write("short.ini", ToGbk(IniText(CalibrationLines(64, 48, 30.0f, identity))))});
    EXPECT_EQ(shortFocal.status, 1);
    EXPECT_NE(shortFocal.out.find("too short"), std::string::npos) << shortFocal.out;
    EXPECT_NE(shortFocal.out.find("output image: not fitted"), std::string::npos) << shortFocal.out;

    // w = 1 - x / 50 is zero at x = 50 and negative beyond: the right-hand
    // side of the 76 x 57 output is mirrored, worst at the camera's right
    // edge.
    const std::vector<std::string> tilted = {"1", "0", "0", "0", "1", "0", "-0.02", "0", "1"};
    const Result mirrored = Run({"check", dir.Write("tilted.ini", ToGbk(IniText(CalibrationLines(64, 48, 100.0f, tilted))))});
    EXPECT_EQ(mirrored.status, 1);
    EXPECT_NE(mirrored.out.find("the matrix's w is not positive over the whole image (w = -0.49260068 at camera (63, 0)): "
                                "points there are mirrored"),
              std::string::npos)
        << mirrored.out;
    EXPECT_NE(mirrored.out.find(", 1 warning)"), std::string::npos) << mirrored.out;

    const Result empty = Run({"check", dir.Write("empty.ini", "")});
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.out.find("image size 0 x 0 is not positive"), std::string::npos) << empty.out;
    EXPECT_NE(empty.out.find("21 missing"), std::string::npos) << empty.out;
}


TEST_F(ToolCheck, CheckNamesNearMissesAndExplainsValues) {
    const std::string text =
        "[图像参数]\n图像宽度=1280.0\n图像高度=720\n[桶形校正参数]\n焦点z值=1800\n[矩阵参数]\na00=1\na11=1\na22=1\n"
        "a01=0\na02=0\na10=0\na12=0\na20=0\na21=0\n[其他]\n颜色=1\n";
    const Result r = Run({"check", dir.Write("cp.ini", text)});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("[桶形校正参数] 焦点Z值 = missing; the file has [桶形校正参数] 焦点z值 (letter case): names "
                         "match exactly, letter case included"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("not a number: \"1280.0\" (an integer is expected)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("unknown keys:\n  [其他] 颜色\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("display: not needed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("notes:\n  not in the file, and not used by the correction: 映射顶点"), std::string::npos) << r.out;
}

}  // namespace

namespace {

// A file fitted for one display and loaded on another is flagged, with or
// without a barrel (without one the load asks no display; check still
// compares with the one named).
TEST_F(ToolCheck, CheckWarnsOfAnotherDisplayWithOrWithoutBarrel) {
    for (const float focal : {1800.0f, 0.0f}) {
        quarvel::CalibrationParams p;
        p.imageWidth = 1280;
        p.imageHeight = 720;
        p.focalZ = focal;
        p.matrix = cv::Matx33f(1.4f, 0, 20, 0, 1.4f, 10, 0, 0, 1);
        p.displayWidth = 1920;
        p.displayHeight = 1080;
        const std::string file = (dir.path() / "fitted.ini").string();
        ASSERT_TRUE(quarvel::WriteParameterFile(file, p));
        const Result other = Run({"check", "--display", "1280x1024", file});
        EXPECT_EQ(other.status, 1) << "focal " << focal << "\n" << other.out;
        EXPECT_NE(other.out.find("calibrated for a 1920 x 1080 display but is loaded on 1280 x 1024"),
                  std::string::npos)
            << "focal " << focal << "\n" << other.out;
        const Result same = Run({"check", "--display", "1920x1080", file});
        EXPECT_EQ(same.status, 0) << "focal " << focal << "\n" << same.out;
    }
}

}  // namespace

namespace {

// A wall of two cameras: how much of the display they see, once and twice,
// and on a frame of the pattern from each, how far their calibrations put
// the targets both see apart; then one camera knocked after calibration.
TEST_F(ToolCheck, AWallsCoverageAndSeams) {
    quarvel::test::WallRig rig{quarvel::test::WallLayout()};
    const quarvel::PatternPicture pattern = quarvel::MakeValidationPattern(1920, 1080);
    ASSERT_TRUE(pattern.ok);
    std::vector<std::string> params, frames;
    for (int k = 0; k < rig.cameras(); ++k) {
        params.push_back((dir.path() / ("camera" + std::to_string(k) + ".ini")).string());
        ASSERT_TRUE(rig.WriteParams(k, params.back()));
        quarvel::test::CameraRig camera(rig.layout().camera, rig.layout().display, rig.DisplayOf(k),
                                        quarvel::test::RigOptions());
        frames.push_back((dir.path() / ("camera" + std::to_string(k) + ".png")).string());
        ASSERT_TRUE(cv::imwrite(frames.back(), camera.See(pattern.picture)));
    }
    const std::string picture = (dir.path() / "coverage.png").string();
    const auto r = Run({"check", params[0], "--frame", frames[0], params[1], "--frame", frames[1], "-o", picture});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::regex coverage(R"(coverage: ([0-9.]+) % of the display seen by at least one camera, ([0-9.]+) % by two)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, coverage)) << r.out;
    EXPECT_GT(std::stod(m[1]), 99.0);
    EXPECT_GT(std::stod(m[2]), 16.0);  // the tiles overlap by 16 % of the width, the views by a little more
    EXPECT_LT(std::stod(m[2]), 25.0);
    const std::regex seam(R"(disagreement over (\d+) targets both see: rms ([0-9.]+), max ([0-9.]+))");
    ASSERT_TRUE(std::regex_search(r.out, m, seam)) << r.out;
    EXPECT_GE(std::stoi(m[1]), 10);
    EXPECT_LT(std::stod(m[3]), 0.5);
    EXPECT_EQ(cv::imread(picture).size(), cv::Size(480, 270));
    // Knocked after calibration: the right camera's picture moved by 3 px.
    const cv::Mat seen = cv::imread(frames[1], cv::IMREAD_GRAYSCALE);
    cv::Mat moved;
    cv::warpAffine(seen, moved, cv::Matx23d(1, 0, 3, 0, 1, 0), seen.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    ASSERT_TRUE(cv::imwrite(frames[1], moved));
    const auto bad = Run({"check", params[0], "--frame", frames[0], params[1], "--frame", frames[1]});
    EXPECT_EQ(bad.status, 1) << bad.out;
    EXPECT_NE(bad.out.find("the seam will show"), std::string::npos) << bad.out;
    // Without frames the seams are not measured; a frame without its
    // calibration before it is refused.
    const auto plain = Run({"check", params[0], params[1]});
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_NE(plain.out.find("not measured"), std::string::npos);
    EXPECT_EQ(Run({"check", params[0], "--frame", frames[0]}).status, 2);
}

}  // namespace
