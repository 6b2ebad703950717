// End-to-end tests of the installed quarvel tool, run as a user would. The
// build names the installed binary (QUARVEL_TOOL) and the examples folder
// (QUARVEL_EXAMPLES).
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Result {
    int status;
    std::string out;
    std::string err;
};

class Tool : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(tool_.c_str(), X_OK), 0) << tool_ << " is not installed";
    }

    Result Run(const std::vector<std::string>& args, const std::string& input = "") const {
        const std::string in = dir.Write("stdin.txt", input);
        // The tool sees no display unless a test gives it one.
        std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + Quote(tool_);
        for (const std::string& a : args) {
            command += " " + Quote(a);
        }
        const std::string out = (dir.path() / "stdout.txt").string();
        const std::string err = (dir.path() / "stderr.txt").string();
        command += " <" + Quote(in) + " >" + Quote(out) + " 2>" + Quote(err);
        const int raw = std::system(command.c_str());
        return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    }

    std::string Example(const std::string& name) const { return examples_ + "/" + name; }

    // What the library itself gives for the points, one "X Y" line each.
    std::string Expected(const std::string& params, const std::vector<CvPoint>& points) const {
        Quarvel q;
        EXPECT_TRUE(q.ReadIniParam(params.c_str()));
        std::string text;
        for (const CvPoint& p : points) {
            const CvPoint r = q.CorrectPoint(p);
            text += std::to_string(r.x) + " " + std::to_string(r.y) + "\n";
        }
        return text;
    }

    TempDir dir;
    const std::string tool_ = QUARVEL_TOOL;
    const std::string examples_ = QUARVEL_EXAMPLES;
};

TEST_F(Tool, CorrectPointsFromArguments) {
    const std::string params = Example("calibration.ini");
    const Result r = Run({"correct", params, "0,0", "640,360", "1279,719", "-5,3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Expected(params, {cvPoint(0, 0), cvPoint(640, 360), cvPoint(1279, 719), cvPoint(-5, 3)}));
    EXPECT_EQ(r.err, "");
}

TEST_F(Tool, CorrectPointsFromStandardInput) {
    const std::string params = Example("calibration-utf8.ini");
    const Result r = Run({"correct", params}, "# x y\n10 20\n\n  30,40 \r\n   \n# done?\n50\t60\n7 , 8");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Expected(params, {cvPoint(10, 20), cvPoint(30, 40), cvPoint(50, 60), cvPoint(7, 8)}));
}

TEST_F(Tool, BothExampleEncodingsCorrectAlike) {
    const Result gbk = Run({"correct", Example("calibration.ini"), "100,600", "1200,50"});
    const Result utf8 = Run({"correct", Example("calibration-utf8.ini"), "100,600", "1200,50"});
    EXPECT_EQ(gbk.status, 0);
    EXPECT_EQ(gbk.out, utf8.out);
    // The GBK example really is GBK: its bytes are the UTF-8 example's text
    // converted, apart from the header comment.
    const std::string gbkBytes = Slurp(Example("calibration.ini"));
    const std::string utf8Text = Slurp(Example("calibration-utf8.ini"));
    const std::string tail = utf8Text.substr(utf8Text.find("\n[") + 1);
    EXPECT_NE(gbkBytes.find(ToGbk(tail)), std::string::npos);
}

TEST_F(Tool, ABadLineStopsWithItsNumberAndText) {
    const std::string params = Example("calibration.ini");
    const Result r = Run({"correct", params}, "1 2\n3 4 5\n6 7\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, Expected(params, {cvPoint(1, 2)}));
    EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'3 4 5'"), std::string::npos) << r.err;

    const Result arg = Run({"correct", params, "1,2", "x,3"});
    EXPECT_EQ(arg.status, 1);
    EXPECT_NE(arg.err.find("'x,3'"), std::string::npos) << arg.err;
    for (const char* bad : {"99999999999 1", "1.5 2", "1", "1 2 3"}) {
        EXPECT_EQ(Run({"correct", params}, bad).status, 1) << bad;
    }
}

TEST_F(Tool, StreamsManyPoints) {
    const std::string params = Example("calibration.ini");
    std::string input;
    std::vector<CvPoint> points;
    for (int i = 0; i < 200000; ++i) {
        points.push_back(cvPoint(i % 1280, (i / 1280) % 720));
        input += std::to_string(points.back().x) + " " + std::to_string(points.back().y) + "\n";
    }
    const Result r = Run({"correct", params}, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == Expected(params, points)) << "streamed output differs from the library's";
}

TEST_F(Tool, UnreadableFilesAreUsageErrors) {
    const Result r = Run({"correct", "/nonexistent/cal.ini", "1,2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/nonexistent/cal.ini"), std::string::npos);
    EXPECT_EQ(Run({"check", "/nonexistent/cal.ini"}).status, 2);
    const Result image = Run({"preview", Example("calibration.ini"), "/nonexistent.png", "-o", "x.png"});
    EXPECT_EQ(image.status, 2);
    EXPECT_NE(image.err.find("/nonexistent.png"), std::string::npos);
    EXPECT_EQ(Run({"correct"}).status, 2);
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
    EXPECT_EQ(Run({"preview", Example("calibration.ini")}).status, 2);
    EXPECT_EQ(Run({"preview", Example("calibration.ini"), Example("grid.png"), "--bogus"}).status, 2);
}

TEST_F(Tool, CheckPassesTheExamples) {
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

TEST_F(Tool, CheckReportsMissingAndMalformedEntries) {
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

TEST_F(Tool, CheckWarnsAboutUnusableCalibrations) {
    const std::vector<std::string> identity = {"1", "0", "0", "0", "1", "0", "0", "0", "1"};
    const Result shortFocal = Run({"check", dir.Write("short.ini", ToGbk(IniText(CalibrationLines(64, 48, 30.0f, identity))))});
    EXPECT_EQ(shortFocal.status, 1);
    EXPECT_NE(shortFocal.out.find("too short"), std::string::npos) << shortFocal.out;
    EXPECT_NE(shortFocal.out.find("output image: not fitted"), std::string::npos) << shortFocal.out;

    // w = 1 - x / 50 is zero at x = 50 and negative beyond: the right-hand
    // corners of the 76 x 57 output are mirrored.
    const std::vector<std::string> tilted = {"1", "0", "0", "0", "1", "0", "-0.02", "0", "1"};
    const Result mirrored = Run({"check", dir.Write("tilted.ini", ToGbk(IniText(CalibrationLines(64, 48, 100.0f, tilted))))});
    EXPECT_EQ(mirrored.status, 1);
    EXPECT_NE(mirrored.out.find("at corners of the corrected image: (76, 0) w = -0.52, (76, 57) w = -0.52: points "
                                "there are mirrored"),
              std::string::npos)
        << mirrored.out;
    EXPECT_EQ(mirrored.out.find("(0, 0) w"), std::string::npos) << mirrored.out;
    EXPECT_NE(mirrored.out.find(", 1 warning)"), std::string::npos) << mirrored.out;

    const Result empty = Run({"check", dir.Write("empty.ini", "")});
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.out.find("image size 0 x 0 is not positive"), std::string::npos) << empty.out;
    EXPECT_NE(empty.out.find("21 missing"), std::string::npos) << empty.out;
}

TEST_F(Tool, PreviewWritesTheLibrarysCanvas) {
    const std::string params = Example("calibration.ini");
    const std::string image = Example("grid.png");
    const std::string out = (dir.path() / "preview.png").string();
    const Result r = Run({"preview", params, image, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(out), std::string::npos);

    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(params.c_str()));
    q.TestBarrelCorrect(cv::imread(image, cv::IMREAD_GRAYSCALE));
    const cv::Mat expected = q.GetBarrelImage();
    const cv::Mat written = cv::imread(out, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), CV_8UC1);
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_EQ(cv::norm(written, expected, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(written), 1000);
}

TEST_F(Tool, PreviewShowWithoutADisplaySaysSoAndStillWrites) {
    const std::string out = (dir.path() / "shown.png").string();
    const Result r = Run({"preview", Example("calibration.ini"), Example("grid.png"), "--show", "--output", out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("no X display"), std::string::npos) << r.err;
    EXPECT_FALSE(cv::imread(out).empty());
}

TEST_F(Tool, EveryCommandHasHelpAndTheToolAVersion) {
    for (const char* command : {"correct", "preview", "check"}) {
        const Result r = Run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: quarvel ") + command, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("exit status"), std::string::npos) << command;
    }
    const Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("correct PARAMS"), std::string::npos);
    const Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("quarvel ") + QUARVEL_VERSION_STRING + "\n");
}

TEST_F(Tool, ALiveProducerGetsEachAnswerBeforeItsNextPoint) {
    const std::string params = Example("calibration.ini");
    int toTool[2];
    int fromTool[2];
    ASSERT_EQ(pipe(toTool), 0);
    ASSERT_EQ(pipe(fromTool), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(toTool[0], STDIN_FILENO);
        dup2(fromTool[1], STDOUT_FILENO);
        close(toTool[1]);
        close(fromTool[0]);
        execl(tool_.c_str(), tool_.c_str(), "correct", params.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toTool[0]);
    close(fromTool[1]);
    const std::string expected = Expected(params, {cvPoint(10, 5), cvPoint(640, 360), cvPoint(1279, 719)});
    std::string answers;
    for (const char* point : {"10 5\n", "640,360\n", "1279 719\n"}) {
        ASSERT_EQ(write(toTool[1], point, std::strlen(point)), static_cast<ssize_t>(std::strlen(point)));
        // The answer comes while the input stays open.
        const std::size_t lines = static_cast<std::size_t>(std::count(answers.begin(), answers.end(), '\n')) + 1;
        while (static_cast<std::size_t>(std::count(answers.begin(), answers.end(), '\n')) < lines) {
            pollfd fd{fromTool[0], POLLIN, 0};
            ASSERT_EQ(poll(&fd, 1, 5000), 1) << "no answer to " << point;
            char buffer[256];
            const ssize_t n = read(fromTool[0], buffer, sizeof buffer);
            ASSERT_GT(n, 0);
            answers.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(toTool[1]);
    int status = 0;
    waitpid(child, &status, 0);
    close(fromTool[0]);
    EXPECT_EQ(answers, expected);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Tool, DisplayOptionFixesTheSizeEveryLoadingCommandFitsTo) {
    // The example (1280 x 720, f = 1800) corrects to 1536 x 864: shrunk on
    // 1024 x 768, whole on 1680 x 1050.
    const std::string params = Example("calibration.ini");
    Quarvel small;
    small.SetDisplaySize(1024, 768);
    ASSERT_TRUE(small.ReadIniParam(params));
    const CvPoint expected = small.CorrectPoint(cvPoint(1279, 719));
    for (const std::vector<std::string>& form :
         {std::vector<std::string>{"--display", "1024x768"}, std::vector<std::string>{"--display=1024x768"}}) {
        std::vector<std::string> args = {"correct"};
        args.insert(args.end(), form.begin(), form.end());
        args.insert(args.end(), {params, "1279,719"});
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::to_string(expected.x) + " " + std::to_string(expected.y) + "\n");
    }
    const Result check = Run({"check", "--display", "1024x768", params});
    EXPECT_NE(check.out.find("display: 1024 x 768 (host)"), std::string::npos) << check.out;

    const Result unknown = Run({"correct", "--display", "HDMI-9", params, "1,1"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("'HDMI-9' is neither WxH nor an output; outputs:"), std::string::npos) << unknown.err;

    const Result listed = Run({"displays"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "* - 1680x1050 fallback\n");  // the tests run without a display
}

TEST_F(Tool, CorrectRefusesAFileWithNothingItUses) {
    // Saved as UTF-16 would be read; as bytes the reader cannot make sense
    // of, nothing is found.
    const Result none = Run({"correct", dir.Write("none.ini", "[x]\ny=1\n"), "1,1"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("none of the 12 entries the correction uses was found"), std::string::npos) << none.err;

    std::vector<quarvel::test::IniLine> lines = CalibrationLines(640, 480, 900.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"});
    lines.erase(lines.begin() + 2);  // 焦点Z值
    const Result some = Run({"correct", dir.Write("some.ini", ToGbk(IniText(lines))), "1,1"});
    EXPECT_EQ(some.status, 0);
    EXPECT_EQ(some.out, "1 1\n");
    EXPECT_NE(some.err.find("warning"), std::string::npos);
    EXPECT_NE(some.err.find("焦点Z值"), std::string::npos) << some.err;
}

TEST_F(Tool, CheckNamesNearMissesAndExplainsValues) {
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

TEST_F(Tool, UsageErrorsAreOneLineAndWritesAreChecked) {
    const Result bad = Run({"correct", "--bogus", Example("calibration.ini")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "quarvel: unknown option '--bogus'\ntry 'quarvel correct --help'\n");
    const Result missing = Run({"preview", Example("calibration.ini"), Example("grid.png"), "-o"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 2) << missing.err;

    const Result stdinDash = Run({"correct", Example("calibration.ini"), "-"}, "10 5\n");
    EXPECT_EQ(stdinDash.out, Expected(Example("calibration.ini"), {cvPoint(10, 5)}));
    EXPECT_EQ(Run({"-V"}).out, std::string("quarvel ") + QUARVEL_VERSION_STRING + "\n");

    const std::string full = "'" + tool_ + "' check '" + Example("calibration.ini") + "' >/dev/full 2>/dev/null";
    const int raw = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2);

    const Result extension = Run({"preview", Example("calibration.ini"), Example("grid.png"), "-o",
                                  (dir.path() / "out.xyz").string()});
    EXPECT_EQ(extension.status, 2);
    EXPECT_NE(extension.err.find("unknown extension"), std::string::npos) << extension.err;
}

// Pairs a detector would give for a barrel of corner magnification 1.2 and
// a mild keystone on a 1920 x 1080 display, one line "x y X Y" each.
std::string MeasuredPairs(int cols, int rows, std::vector<CvPoint2D64f>* cameras = nullptr) {
    quarvel::CalibrationParams truth;
    truth.imageWidth = 1280;
    truth.imageHeight = 720;
    truth.focalZ = static_cast<float>(std::sqrt((640.0 * 640 + 360.0 * 360) / (1 - 1 / 1.2)));
    truth.matrix = cv::Matx33f(1.2f, 0.02f, 30, -0.01f, 1.2f, 20, 2e-5f, 3e-5f, 1);
    Quarvel q;
    q.SetDisplaySize(1920, 1080);
    q.LoadParams(truth);
    std::string text = "# x y X Y\n";
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const cv::Point2d target(240 + c * 1440 / (cols - 1), 135 + r * 810 / (rows - 1));
            const cv::Point2d camera = q.InvertPoint(target);
            char line[128];
            std::snprintf(line, sizeof line, "%.4f %.4f %.0f %.0f\n", camera.x, camera.y, target.x, target.y);
            text += line;
            if (cameras != nullptr) {
                cameras->push_back({camera.x, camera.y});
            }
        }
    }
    return text;
}

TEST_F(Tool, CalibrateWritesAFileThatLoadsAndCorrectsTheTargets) {
    const std::string pairs = dir.Write("pairs.txt", MeasuredPairs(5, 4));
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

TEST_F(Tool, CalibrateRefusesWhatItCannotTrust) {
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
    const Result malformed = Run({"calibrate", bad, "--image", "1280x720", "-o", out});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find("line 2"), std::string::npos) << malformed.err;
    EXPECT_EQ(Run({"calibrate", bad, "-o", out}).status, 2);  // no --image
}

TEST_F(Tool, CalibrateTargetsModeIsDrivenThroughAPipe) {
    std::vector<CvPoint2D64f> cameras;
    MeasuredPairs(3, 3, &cameras);
    std::string answers;
    for (const CvPoint2D64f& c : cameras) {
        answers += std::to_string(c.x) + " " + std::to_string(c.y) + "\n";
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

TEST_F(Tool, PreviewPaintsEveryFrameOfAVideo) {
    const std::string input = (dir.path() / "in.avi").string();
    {
        cv::VideoWriter writer(input, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, cv::Size(1280, 720), true);
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 12; ++i) {
            cv::Mat frame(720, 1280, CV_8UC3, cv::Scalar(40 + 10 * i, 90, 200));
            writer.write(frame);
        }
    }
    const std::string params = Example("calibration.ini");
    const std::string output = (dir.path() / "out.avi").string();
    const Result r = Run({"preview", params, "--video", input, "-o", output});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("frames read 12, frames painted 12,"), std::string::npos) << r.out;
    cv::VideoCapture written(output);
    ASSERT_TRUE(written.isOpened());
    int frames = 0;
    cv::Mat frame;
    while (written.read(frame)) {
        ++frames;
        EXPECT_EQ(frame.size(), cv::Size(1680, 1050));
    }
    EXPECT_EQ(frames, 12);

    const std::string last = (dir.path() / "last.png").string();
    const Result filled = Run({"preview", params, "--video", input, "--fill", "-o", last});
    ASSERT_EQ(filled.status, 0) << filled.err;
    const cv::Mat picture = cv::imread(last, cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(picture.size(), cv::Size(1680, 1050));
    EXPECT_GT(picture.at<unsigned char>(500, 800), 0);  // the middle of the picture, never a hole when filled

    EXPECT_EQ(Run({"preview", params, "--video", "/nonexistent.avi"}).status, 2);
    EXPECT_EQ(Run({"preview", params, Example("grid.png"), "-o", output}).status, 2);  // .avi needs frames
}

}  // namespace
