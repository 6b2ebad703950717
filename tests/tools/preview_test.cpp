// quarvel preview: the canvas for an image, a video, and without a display.
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

using Result = quarvel::test::ProcessResult;

class ToolPreview : public quarvel::test::ToolTest {};

TEST_F(ToolPreview, PreviewWritesTheLibrarysCanvas) {
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


TEST_F(ToolPreview, PreviewShowWithoutADisplaySaysSoAndStillWrites) {
    const std::string out = (dir.path() / "shown.png").string();
    const Result r = Run({"preview", Example("calibration.ini"), Example("grid.png"), "--show", "--output", out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("no X display"), std::string::npos) << r.err;
    EXPECT_FALSE(cv::imread(out).empty());
}


TEST_F(ToolPreview, PreviewPaintsEveryFrameOfAVideo) {
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
