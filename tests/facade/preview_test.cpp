// The class's preview: the canvas it keeps and shows, the images it reads,
// and its safety on hosts without a display.
#include <gtest/gtest.h>

#include <cstdlib>

#include <quarvel/preview.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::kCanvasHeight;
using quarvel::kCanvasWidth;
using quarvel::test::Pattern;
using quarvel::test::Loaded;

cv::Mat Canvas(Quarvel& q, const cv::Mat& source) {
    q.TestBarrelCorrect(source);
    return q.GetBarrelImage();
}

// The shipped example calibration on a 1680 x 1050 display.
Quarvel Example() {
    return Loaded(1280, 720, 1800.0f, cv::Matx33f(1.0f, 0.03f, 40, 0, 1.02f, 30, 0.00002f, 0.00004f, 1));
}

TEST(PreviewSources, OnlyPixelsThatExistAreRead) {
    // The loaded image is larger than the source: only the source's pixels
    // are painted. Run under AddressSanitizer this also proves no read
    // leaves the buffer.
    Quarvel q = Loaded(640, 480, 0.0f);
    const cv::Mat source = Pattern(100, 50);
    const cv::Mat canvas = Canvas(q, source);
    EXPECT_EQ(cv::countNonZero(canvas), 100 * 50);
    // A region of interest with a stride larger than its width.
    const cv::Mat big = Pattern(300, 300);
    const cv::Mat roi = big(cv::Rect(10, 20, 30, 40));
    const cv::Mat fromRoi = Canvas(q, roi);
    EXPECT_EQ(cv::norm(fromRoi(cv::Rect(0, 0, 30, 40)), roi, cv::NORM_INF), 0.0);
}

TEST(PreviewSources, IplImageHeaderIsRead) {
    Quarvel q = Loaded(64, 48, 0.0f);
    const cv::Mat source = Pattern(64, 48);
    IplImage ipl = cvIplImage(source);
    q.TestBarrelCorrect(&ipl);
    EXPECT_EQ(cv::norm(q.GetBarrelImage()(cv::Rect(0, 0, 64, 48)), source, cv::NORM_INF), 0.0);

    // A header that claims more rows than its data holds is refused.
    ipl.imageSize = ipl.widthStep * 10;
    q.TestBarrelCorrect(&ipl);
    EXPECT_EQ(cv::countNonZero(q.GetBarrelImage()), 0);
}

TEST(PreviewSources, UnsuitableSourcesPaintABlankCanvas) {
    Quarvel q = Loaded(64, 48, 0.0f);
    const cv::Mat colour(48, 64, CV_8UC3, cv::Scalar(9, 9, 9));
    const cv::Mat wide(48, 64, CV_16UC1, cv::Scalar(9));
    IplImage colourIpl = cvIplImage(colour);
    IplImage wideIpl = cvIplImage(wide);
    const IplImage* const unsuitable[] = {nullptr, &colourIpl, &wideIpl};
    for (const IplImage* bad : unsuitable) {
        q.TestBarrelCorrect(bad);
        const cv::Mat canvas = q.GetBarrelImage();
        ASSERT_EQ(canvas.size(), cv::Size(kCanvasWidth, kCanvasHeight));
        EXPECT_EQ(cv::countNonZero(canvas), 0);
    }
    for (const cv::Mat& bad : {colour, wide, cv::Mat()}) {
        EXPECT_EQ(cv::countNonZero(Canvas(q, bad)), 0);
    }
}

TEST(PreviewState, EachCallReplacesTheCanvas) {
    Quarvel q = Loaded(64, 48, 0.0f);
    EXPECT_TRUE(q.GetBarrelImage().empty());
    const cv::Mat first = Canvas(q, Pattern(64, 48));
    EXPECT_GT(cv::countNonZero(first), 0);
    const cv::Mat second = Canvas(q, cv::Mat(48, 64, CV_8UC1, cv::Scalar(200)));
    EXPECT_EQ(second.at<unsigned char>(5, 5), 200);
    EXPECT_EQ(cv::countNonZero(second), 64 * 48);
    // The copy handed out earlier is the host's own.
    EXPECT_NE(first.at<unsigned char>(5, 5), 200);
    cv::Mat copy = q.GetBarrelImage();
    copy.setTo(0);
    EXPECT_EQ(q.GetBarrelImage().at<unsigned char>(5, 5), 200);
}

TEST(PreviewState, FreshInstanceShowsAnUnpaintedCanvas) {
    Quarvel q;
    q.TestBarrelCorrect(Pattern(64, 48));
    EXPECT_EQ(q.GetBarrelImage().size(), cv::Size(kCanvasWidth, kCanvasHeight));
    EXPECT_EQ(cv::countNonZero(q.GetBarrelImage()), 0);
}

TEST(PreviewHeadless, ChildWithoutDisplayExitsNormallyWithThePaintedCanvas) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            Quarvel q = Loaded(64, 48, 0.0f);
            q.TestBarrelCorrect(Pattern(64, 48));
            const bool painted = cv::countNonZero(q.GetBarrelImage()) == 64 * 48;
            std::exit(painted ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

TEST(RenderBarrel, IsTheCanvasTestBarrelCorrectKeeps) {
    Quarvel q = Example();
    cv::Mat source(720, 1280, CV_8UC1);
    cv::randu(source, 1, 255);
    const cv::Mat rendered = q.RenderBarrel(source);
    EXPECT_TRUE(q.GetBarrelImage().empty());  // rendering keeps nothing
    q.TestBarrelCorrect(source);
    ASSERT_EQ(rendered.size(), cv::Size(1680, 1050));
    EXPECT_EQ(cv::norm(rendered, q.GetBarrelImage(), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(rendered), 500000);
}

TEST(RenderBarrel, UnsuitableSourcesPaintBlankCanvases) {
    const Quarvel q = Example();
    for (const cv::Mat& bad : {cv::Mat(), cv::Mat(720, 1280, CV_8UC3, cv::Scalar(9, 9, 9)),
                               cv::Mat(720, 1280, CV_32FC1, cv::Scalar(9))}) {
        const cv::Mat forward = q.RenderBarrel(bad);
        const cv::Mat filled = q.RenderBarrelFilled(bad);
        ASSERT_EQ(forward.size(), cv::Size(1680, 1050));
        ASSERT_EQ(filled.size(), cv::Size(1680, 1050));
        EXPECT_EQ(cv::countNonZero(forward), 0);
        EXPECT_EQ(cv::countNonZero(filled), 0);
    }
    // A picture moved wholly off the canvas fills nothing.
    const Quarvel away = Loaded(1280, 720, 1800.0f, cv::Matx33f(1, 0, 5000, 0, 1, 0, 0, 0, 1));
    EXPECT_EQ(cv::countNonZero(away.RenderBarrelFilled(cv::Mat(720, 1280, CV_8UC1, cv::Scalar(9)))), 0);
}

}  // namespace
