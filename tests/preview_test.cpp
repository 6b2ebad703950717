// The preview's painting, and its safety on hosts without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "preview/canvas.h"
#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;
using quarvel::detail::kCanvasHeight;
using quarvel::detail::kCanvasWidth;

// A source whose every pixel differs from its neighbours (never 0).
cv::Mat Pattern(int width, int height) {
    cv::Mat m(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            m.at<unsigned char>(y, x) = static_cast<unsigned char>(1 + (x * 7 + y * 13) % 255);
        }
    }
    return m;
}

cv::Mat Canvas(Quarvel& q, const cv::Mat& source) {
    q.TestBarrelCorrect(source);
    return q.GetBarrelImage();
}

TEST(PreviewPainting, IdentityReproducesTheSourceInTheTopLeftCorner) {
    Quarvel q = P::Loaded(640, 480, 0.0f);
    const cv::Mat source = Pattern(640, 480);
    const cv::Mat canvas = Canvas(q, source);
    ASSERT_EQ(canvas.rows, kCanvasHeight);
    ASSERT_EQ(canvas.cols, kCanvasWidth);
    ASSERT_EQ(canvas.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(canvas(cv::Rect(0, 0, 640, 480)), source, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::countNonZero(canvas), 640 * 480);  // the rest stays 0
}

TEST(PreviewPainting, ShiftLeftSkipsOffCanvasColumnsAndLaterPixelsWin) {
    // Columns 0..8 land left of the canvas; 9 and 10 both round to column 0
    // (trunc(-0.5) = trunc(0.5) = 0) and 10, visited later, wins.
    Quarvel q = P::Loaded(640, 480, 0.0f, cv::Matx33f(1, 0, -10, 0, 1, 0, 0, 0, 1));
    const cv::Mat source = Pattern(640, 480);
    const cv::Mat canvas = Canvas(q, source);
    for (int y = 0; y < 480; y += 37) {
        EXPECT_EQ(canvas.at<unsigned char>(y, 0), source.at<unsigned char>(y, 10)) << y;
        EXPECT_EQ(canvas.at<unsigned char>(y, 1), source.at<unsigned char>(y, 11)) << y;
    }
    EXPECT_EQ(cv::countNonZero(canvas), (640 - 10) * 480);
}

TEST(PreviewPainting, CollisionKeepsTheLastVisitedPixel) {
    // w = 2 halves every coordinate: canvas column c = trunc(x / 2 + 0.5)
    // receives source columns 2c - 1 and 2c, and the later one (2c) stays;
    // likewise for rows.
    Quarvel q = P::Loaded(8, 8, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 2));
    const cv::Mat source = Pattern(8, 8);
    const cv::Mat canvas = Canvas(q, source);
    EXPECT_EQ(canvas.at<unsigned char>(1, 1), source.at<unsigned char>(2, 2));
    EXPECT_EQ(canvas.at<unsigned char>(2, 3), source.at<unsigned char>(4, 6));
    EXPECT_EQ(canvas.at<unsigned char>(0, 0), source.at<unsigned char>(0, 0));
    EXPECT_EQ(canvas.at<unsigned char>(4, 4), source.at<unsigned char>(7, 7));
}

TEST(PreviewPainting, CollisionsAcrossRowsAndColumnsFollowTheColumnOrder) {
    // (x, y) -> (x + y, 0): every anti-diagonal lands on one canvas pixel.
    // Visiting x outer, the pixel with the largest x wins, even though
    // another pixel of the diagonal lies on a later row.
    Quarvel q = P::Loaded(40, 30, 0.0f, cv::Matx33f(1, 1, 0, 0, 0, 0, 0, 0, 1));
    const cv::Mat source = Pattern(40, 30);
    const cv::Mat canvas = Canvas(q, source);
    for (int sum = 0; sum < 40 + 30 - 1; ++sum) {
        const int x = std::min(sum, 39);
        EXPECT_EQ(canvas.at<unsigned char>(0, sum), source.at<unsigned char>(sum - x, x)) << sum;
    }
}

TEST(PreviewPainting, BarrelCalibrationMatchesCorrectPoint) {
    Quarvel q = P::Loaded(320, 240, 400.0f, cv::Matx33f(1.1f, 0.02f, 30, -0.01f, 1.05f, 20, 1e-4f, 5e-5f, 1));
    const cv::Mat source = Pattern(320, 240);
    const cv::Mat canvas = Canvas(q, source);
    cv::Mat expected = cv::Mat::zeros(kCanvasHeight, kCanvasWidth, CV_8UC1);
    for (int x = 0; x < 320; ++x) {
        for (int y = 0; y < 240; ++y) {
            const CvPoint p = q.CorrectPoint(cvPoint(x, y));
            if (p.x >= 0 && p.x < kCanvasWidth && p.y >= 0 && p.y < kCanvasHeight) {
                expected.at<unsigned char>(p.y, p.x) = source.at<unsigned char>(y, x);
            }
        }
    }
    EXPECT_EQ(cv::norm(canvas, expected, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(canvas), 320 * 240 / 2);
}

TEST(PreviewSources, OnlyPixelsThatExistAreRead) {
    // The loaded image is larger than the source: only the source's pixels
    // are painted. Run under AddressSanitizer this also proves no read
    // leaves the buffer.
    Quarvel q = P::Loaded(640, 480, 0.0f);
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
    Quarvel q = P::Loaded(64, 48, 0.0f);
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
    Quarvel q = P::Loaded(64, 48, 0.0f);
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
    Quarvel q = P::Loaded(64, 48, 0.0f);
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
            Quarvel q = P::Loaded(64, 48, 0.0f);
            q.TestBarrelCorrect(Pattern(64, 48));
            const bool painted = cv::countNonZero(q.GetBarrelImage()) == 64 * 48;
            std::exit(painted ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
