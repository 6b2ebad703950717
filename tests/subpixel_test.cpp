// The OpenCV-native members: sub-pixel correction against values computed
// outside the library, the inverse, point arrays and the window-less
// preview.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/fixtures.h"
#include "support/test_peer.h"

namespace {

using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

// The shipped example calibration on a 1680 x 1050 display.
Quarvel Example(const TempDir& dir) {
    Quarvel q;
    q.SetDisplaySize(1680, 1050);
    EXPECT_TRUE(q.ReadIniParam(dir.Write("example.ini", ToGbk(IniText(CalibrationLines(
        1280, 720, 1800.0f, {"1.0", "0.03", "40", "0", "1.02", "30", "0.00002", "0.00004", "1"}))))));
    return q;
}

struct Reference {
    double x, y, X, Y;
};
// From tests/reference/subpixel_reference.py (an independent float32 model).
// GCC 12's SLP fault (X and Y divided by w without their float rounding)
// changes every one of these quotients.
constexpr Reference kReference[] = {
    {0x0.0p+0, 0x0.0p+0, 0x1.41d8f054b7ea6p+5, 0x1.e2156aee72552p+4},
    {0x1.4800000000000p+3, 0x1.7000000000000p+2, 0x1.cc4154329946fp+5, 0x1.3ef16753e1648p+5},
    {0x1.3fc0000000000p+9, 0x1.6780000000000p+8, 0x1.8d44836a6c319p+9, 0x1.c74882cb1e186p+8},
    {0x1.3fc0000000000p+10, 0x1.6780000000000p+9, 0x1.777f18d313df6p+10, 0x1.aaf90d7dc33e4p+9},
    {0x1.9080000000000p+6, 0x1.2c70000000000p+9, 0x1.b2367d1cc547ep+7, 0x1.69af6ac0eaabfp+9},
    {0x1.2c13333333333p+10, 0x1.959999999999ap+5, 0x1.5fe9ece8bf3a7p+10, 0x1.a8b2a16d0e61ap+6},
    {-0x1.c000000000000p+1, 0x1.9020000000000p+9, 0x1.5b629bad30197p+5, 0x1.ecbf1971dd5fdp+9},
};

TEST(Subpixel, MatchesAnIndependentModelBitForBit) {
    TempDir dir;
    const Quarvel q = Example(dir);
    for (const Reference& r : kReference) {
        const cv::Point2d d = q.CorrectPointSubpixel(cv::Point2d(r.x, r.y));
        EXPECT_EQ(d.x, r.X) << std::hexfloat << r.x << ", " << r.y << " gave " << d.x;
        EXPECT_EQ(d.y, r.Y) << std::hexfloat << r.x << ", " << r.y << " gave " << d.y;
    }
}

TEST(Subpixel, IntegerInputsRoundToCorrectPoint) {
    TempDir dir;
    const Quarvel q = Example(dir);
    // Inside the picture, beyond it (mirrored past the singular radius) and
    // with no barrel step.
    Quarvel flat = q;
    QuarvelTestPeer::focalZ(flat) = 0.0f;
    for (const Quarvel* c : {&q, static_cast<const Quarvel*>(&flat)}) {
        for (int x = -1500; x <= 2800; x += 37) {
            for (int y = -900; y <= 1700; y += 41) {
                const cv::Point2d d = c->CorrectPointSubpixel(cv::Point2d(x, y));
                const CvPoint e = c->CorrectPoint(cvPoint(x, y));
                if (e.x == INT_MIN || e.y == INT_MIN) {
                    continue;
                }
                ASSERT_EQ(static_cast<int>(std::trunc(d.x + 0.5)), e.x) << x << "," << y;
                ASSERT_EQ(static_cast<int>(std::trunc(d.y + 0.5)), e.y) << x << "," << y;
                const cv::Point p = c->CorrectPoint(cv::Point(x, y));
                ASSERT_EQ(p.x, e.x);
                ASSERT_EQ(p.y, e.y);
            }
        }
    }
}

TEST(PointArrays, TypesShapesAndInPlace) {
    TempDir dir;
    const Quarvel q = Example(dir);
    std::vector<cv::Point> points;
    for (int i = 0; i < 1001; ++i) {
        points.emplace_back((i * 37) % 1400 - 60, (i * 53) % 800 - 40);
    }
    std::vector<cv::Point> corrected;
    ASSERT_TRUE(q.CorrectPoints(points, corrected));
    ASSERT_EQ(corrected.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        ASSERT_EQ(corrected[i], q.CorrectPoint(points[i])) << i;
    }
    // N x 1 and 1 x N matrices keep their shape.
    const cv::Mat column(points, true);
    cv::Mat out;
    ASSERT_TRUE(q.CorrectPoints(column.t(), out));
    EXPECT_EQ(out.rows, 1);
    EXPECT_EQ(out.type(), CV_32SC2);
    EXPECT_EQ(cv::norm(out.t(), cv::Mat(corrected), cv::NORM_INF), 0.0);
    // In place.
    std::vector<cv::Point> inPlace = points;
    ASSERT_TRUE(q.CorrectPoints(inPlace, inPlace));
    EXPECT_EQ(inPlace, corrected);

    // Floating-point points give the sub-pixel chain in double.
    const std::vector<cv::Point2f> sub = {{10.25f, 5.75f}, {639.5f, 359.5f}};
    cv::Mat subOut;
    ASSERT_TRUE(q.CorrectPoints(sub, subOut));
    ASSERT_EQ(subOut.type(), CV_64FC2);
    EXPECT_EQ(subOut.at<cv::Point2d>(1), q.CorrectPointSubpixel(cv::Point2d(639.5, 359.5)));
    std::vector<cv::Point2d> subD = {{10.25, 5.75}};
    std::vector<cv::Point2d> subDOut;
    ASSERT_TRUE(q.CorrectPoints(subD, subDOut));
    EXPECT_EQ(subDOut[0].x, kReference[1].X);

    // Anything else is refused, leaving the result empty.
    const cv::Mat bad[] = {cv::Mat(3, 1, CV_32SC3, cv::Scalar(1)), cv::Mat(3, 1, CV_8UC2, cv::Scalar(1)),
                           cv::Mat(2, 3, CV_32SC2, cv::Scalar(1)), cv::Mat(3, 2, CV_32SC1, cv::Scalar(1))};
    for (const cv::Mat& m : bad) {
        cv::Mat result(4, 4, CV_8UC1, cv::Scalar(7));
        EXPECT_FALSE(q.CorrectPoints(m, result));
        EXPECT_TRUE(result.empty());
        EXPECT_FALSE(q.InvertPoints(m, result));
    }
    std::vector<cv::Point> empty;
    EXPECT_TRUE(q.CorrectPoints(empty, corrected));
    EXPECT_TRUE(corrected.empty());
}

TEST(Inverse, RoundTripsOverThePicture) {
    TempDir dir;
    Quarvel q = Example(dir);
    double worst = 0.0;
    std::vector<cv::Point2d> displays;
    for (double x = 0; x <= 1279; x += 31.7) {
        for (double y = 0; y <= 719; y += 23.3) {
            const cv::Point2d d = q.CorrectPointSubpixel(cv::Point2d(x, y));
            const cv::Point2d c = q.InvertPoint(d);
            ASSERT_TRUE(std::isfinite(c.x) && std::isfinite(c.y)) << x << "," << y;
            EXPECT_NEAR(c.x, x, 0.01);
            EXPECT_NEAR(c.y, y, 0.01);
            const cv::Point2d back = q.CorrectPointSubpixel(c);
            worst = std::max({worst, std::abs(back.x - d.x), std::abs(back.y - d.y)});
            displays.push_back(d);
        }
    }
    EXPECT_LT(worst, 1e-3);
    std::vector<cv::Point2d> cameras;
    ASSERT_TRUE(q.InvertPoints(displays, cameras));
    ASSERT_EQ(cameras.size(), displays.size());
    EXPECT_EQ(cameras[5], q.InvertPoint(displays[5]));

    // No barrel step: the inverse matrix alone.
    Quarvel flat = q;
    QuarvelTestPeer::focalZ(flat) = 0.0f;
    const cv::Point2d c = flat.InvertPoint(flat.CorrectPointSubpixel(cv::Point2d(300.5, 200.25)));
    EXPECT_NEAR(c.x, 300.5, 1e-3);
    EXPECT_NEAR(c.y, 200.25, 1e-3);

    // Where no camera point maps: w <= 0 (the far side of the horizon),
    // a singular matrix, non-finite input.
    QuarvelTestPeer::keyStoneMat(q) = cv::Matx33f(1, 0, 0, 0, 1, 0, -0.001f, 0, 1);
    EXPECT_TRUE(std::isnan(q.InvertPoint(cv::Point2d(-2000, 0)).x));  // x = 2000 / 3 ... w < 0
    QuarvelTestPeer::keyStoneMat(q) = cv::Matx33f::zeros();
    EXPECT_TRUE(std::isnan(q.InvertPoint(cv::Point2d(10, 10)).x));
    EXPECT_TRUE(std::isnan(flat.InvertPoint(cv::Point2d(NAN, 10)).y));
}

TEST(RenderBarrel, IsTheCanvasTestBarrelCorrectKeeps) {
    TempDir dir;
    Quarvel q = Example(dir);
    cv::Mat source(720, 1280, CV_8UC1);
    cv::randu(source, 1, 255);
    const cv::Mat rendered = q.RenderBarrel(source);
    EXPECT_TRUE(q.GetBarrelImage().empty());  // rendering keeps nothing
    q.TestBarrelCorrect(source);
    ASSERT_EQ(rendered.size(), cv::Size(1680, 1050));
    EXPECT_EQ(cv::norm(rendered, q.GetBarrelImage(), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::countNonZero(rendered), 500000);
}

TEST(PointArrays, StridedAndEmptyInputs) {
    TempDir dir;
    const Quarvel q = Example(dir);
    // A column of a wider two-channel matrix is not continuous.
    cv::Mat wide(5, 3, CV_32SC2, cv::Scalar(100, 200));
    cv::Mat out;
    ASSERT_TRUE(q.CorrectPoints(wide.col(1), out));
    EXPECT_EQ(out.at<cv::Point>(4), q.CorrectPoint(cv::Point(100, 200)));
    cv::Mat inverted(2, 2, CV_8UC1);
    EXPECT_TRUE(q.InvertPoints(cv::Mat(), inverted));
    EXPECT_TRUE(inverted.empty());
    std::vector<cv::Point> ints = {{10, 5}};
    std::vector<cv::Point2d> cams;
    ASSERT_TRUE(q.InvertPoints(ints, cams));
    EXPECT_EQ(cams[0], q.InvertPoint(cv::Point2d(10, 5)));
}

TEST(RenderBarrel, UnsuitableSourcesPaintBlankCanvases) {
    TempDir dir;
    const Quarvel q = Example(dir);
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
    Quarvel away = q;
    QuarvelTestPeer::keyStoneMat(away) = cv::Matx33f(1, 0, 5000, 0, 1, 0, 0, 0, 1);
    EXPECT_EQ(cv::countNonZero(away.RenderBarrelFilled(cv::Mat(720, 1280, CV_8UC1, cv::Scalar(9)))), 0);
}

}  // namespace
