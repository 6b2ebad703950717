// The preview's painting rules: where each pixel goes, which wins where
// several land on one canvas pixel, what is skipped.
#include <gtest/gtest.h>

#include <algorithm>

#include <quarvel/preview.h>

#include "support/fixtures.h"

namespace {

using quarvel::kCanvasHeight;
using quarvel::kCanvasWidth;
using quarvel::test::Pattern;
using quarvel::Model;
using quarvel::test::ParamsOf;

cv::Mat Canvas(const Model& m, const cv::Mat& source) { return quarvel::Preview(m).Render(source); }

Model ModelOf(int w, int h, float f, const cv::Matx33f& m = cv::Matx33f::eye()) {
    return Model(ParamsOf(w, h, f, m), cv::Size(1680, 1050));
}

TEST(PreviewPainting, IdentityReproducesTheSourceInTheTopLeftCorner) {
    const Model q = ModelOf(640, 480, 0.0f);
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
    const Model q = ModelOf(640, 480, 0.0f, cv::Matx33f(1, 0, -10, 0, 1, 0, 0, 0, 1));
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
    const Model q = ModelOf(8, 8, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 2));
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
    const Model q = ModelOf(40, 30, 0.0f, cv::Matx33f(1, 1, 0, 0, 0, 0, 0, 0, 1));
    const cv::Mat source = Pattern(40, 30);
    const cv::Mat canvas = Canvas(q, source);
    for (int sum = 0; sum < 40 + 30 - 1; ++sum) {
        const int x = std::min(sum, 39);
        EXPECT_EQ(canvas.at<unsigned char>(0, sum), source.at<unsigned char>(sum - x, x)) << sum;
    }
}

TEST(PreviewPainting, BarrelCalibrationMatchesCorrectPoint) {
    const Model q = ModelOf(320, 240, 400.0f, cv::Matx33f(1.1f, 0.02f, 30, -0.01f, 1.05f, 20, 1e-4f, 5e-5f, 1));
    const cv::Mat source = Pattern(320, 240);
    const cv::Mat canvas = Canvas(q, source);
    cv::Mat expected = cv::Mat::zeros(kCanvasHeight, kCanvasWidth, CV_8UC1);
    for (int x = 0; x < 320; ++x) {
        for (int y = 0; y < 240; ++y) {
            const cv::Point p = q.CorrectPoint(cv::Point(x, y));
            if (p.x >= 0 && p.x < kCanvasWidth && p.y >= 0 && p.y < kCanvasHeight) {
                expected.at<unsigned char>(p.y, p.x) = source.at<unsigned char>(y, x);
            }
        }
    }
    EXPECT_EQ(cv::norm(canvas, expected, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(canvas), 320 * 240 / 2);
}

}  // namespace
