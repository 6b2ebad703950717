// quarvel correct: points from arguments and standard input, streaming, a
// live producer, bad lines and empty calibrations.
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
#include <quarvel/quarvel.h>

#include "support/fixtures.h"
#include "support/synthetic.h"
#include "support/tool.h"

namespace {

using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::Slurp;
using quarvel::test::ToGbk;
using Result = quarvel::test::ProcessResult;

class ToolCorrect : public quarvel::test::ToolTest {};

TEST_F(ToolCorrect, CorrectPointsFromArguments) {
    const std::string params = Example("calibration.ini");
    const Result r = Run({"correct", params, "0,0", "640,360", "1279,719", "-5,3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Expected(params, {cvPoint(0, 0), cvPoint(640, 360), cvPoint(1279, 719), cvPoint(-5, 3)}));
    EXPECT_EQ(r.err, "");
}


TEST_F(ToolCorrect, CorrectPointsFromStandardInput) {
    const std::string params = Example("calibration-utf8.ini");
    const Result r = Run({"correct", params}, "# x y\n10 20\n\n  30,40 \r\n   \n# done?\n50\t60\n7 , 8");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Expected(params, {cvPoint(10, 20), cvPoint(30, 40), cvPoint(50, 60), cvPoint(7, 8)}));
}


TEST_F(ToolCorrect, BothExampleEncodingsCorrectAlike) {
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


TEST_F(ToolCorrect, ABadLineStopsWithItsNumberAndText) {
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


TEST_F(ToolCorrect, StreamsManyPoints) {
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


TEST_F(ToolCorrect, ALiveProducerGetsEachAnswerBeforeItsNextPoint) {
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


TEST_F(ToolCorrect, CorrectRefusesAFileWithNothingItUses) {
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

}  // namespace
