// The main chain through the model: barrel mapping, projective mapping and
// the integer conversions, against hand-worked values and values computed
// outside the library (a separate float32/float64 model of the chain,
// tests/reference/subpixel_reference.py).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include <quarvel/model.h>

#include "numeric/arithmetic.h"
#include "support/fixtures.h"

namespace {

using quarvel::Model;
using quarvel::test::ParamsOf;

const cv::Size kDisplay(1680, 1050);

Model ModelOf(int w, int h, float f, const cv::Matx33f& m = cv::Matx33f::eye()) {
    return Model(ParamsOf(w, h, f, m), kDisplay);
}

// The barrel step's float output: with the identity matrix, w is 1 and
// the sub-pixel chain gives the barrel mapping's floats exactly.
cv::Point2d Barrel(int w, int h, float f, const cv::Point2d& p) {
    return ModelOf(w, h, f).CorrectPointSubpixel(p);
}

TEST(BarrelMapping, OverviewPointLandsAtFourteenEight) {
    const Model m = ModelOf(64, 48, 100.0f);
    const cv::Point2d b = Barrel(64, 48, 100.0f, cv::Point2d(10, 5));
    EXPECT_EQ(b.x, static_cast<double>(0x1.bf057p+3f));  // ~13.97
    EXPECT_EQ(b.y, static_cast<double>(0x1.efc398p+2f));  // ~7.75
    EXPECT_EQ(m.CorrectPoint(cv::Point(10, 5)), cv::Point(14, 8));
    // The source centre maps to the output centre exactly.
    EXPECT_EQ(Barrel(64, 48, 100.0f, cv::Point2d(32, 24)), cv::Point2d(38.0, 28.5));
}

TEST(BarrelMapping, SingularFocalDoesNotFault) {
    // f^2 equal to the squared half-diagonal: the centre itself still maps
    // (k = 1), onto the degenerate output centre -2^30.
    EXPECT_EQ(ModelOf(6, 8, 5.0f).CorrectPoint(cv::Point(3, 4)).x, -1073741823);
}

TEST(BarrelMapping, ZeroFocalPassesPointsThroughUnchanged) {
    const Model m = ModelOf(640, 480, 0.0f);
    for (const cv::Point p : {cv::Point(0, 0), cv::Point(639, 479), cv::Point(17, 300), cv::Point(5000, 2)}) {
        EXPECT_EQ(m.CorrectPoint(p), p);
    }
    // trunc(-3 + 0.5) = trunc(-2.5) = -2.
    EXPECT_EQ(m.CorrectPoint(cv::Point(-3, 4)).x, -2);
}

TEST(BarrelMapping, NegativeFocalCorrectsLikeThePositive) {
    const Model plus = ModelOf(64, 48, 100.0f);
    const Model minus = ModelOf(64, 48, -100.0f);
    for (int x = 0; x < 64; x += 9) {
        EXPECT_EQ(plus.CorrectPoint(cv::Point(x, x / 2)), minus.CorrectPoint(cv::Point(x, x / 2)));
    }
}

TEST(BarrelMapping, RealisticCalibrationMatchesIndependentReference) {
    // 1280 x 720 camera, f = 1500, a mild keystone with perspective terms.
    const cv::Matx33f m(1.02f, 0.01f, -5.0f, 0.005f, 0.98f, 3.0f, 1e-5f, 2e-5f, 1.0f);
    const Model model = ModelOf(1280, 720, 1500.0f, m);
    EXPECT_EQ(model.geometry().outWidth, 1596);
    EXPECT_EQ(model.geometry().outHeight, 898);
    EXPECT_EQ(model.geometry().scale, 0x1.e57cc2p-1f);
    const struct {
        cv::Point in;
        float barrelX;
        float barrelY;
        cv::Point out;
    } cases[] = {
        {{0, 0}, -0x1.012p-3f, 0x1.bd8p-5f, {-4, 3}},
        {{1279, 719}, 0x1.8e7cbap+10f, 0x1.c0169p+9f, {1576, 860}},
        {{640, 360}, 0x1.8fp+9f, 0x1.c1p+8f, {800, 440}},
        {{100, 600}, 0x1.7fca48p+7f, 0x1.6730a2p+9f, {195, 697}},
        // Beyond the singular radius: k turns negative and mirrors the point.
        {{3000, -2000}, 0x1.cf2828p+7f, 0x1.fbb5f6p+9f, {236, 977}},
        {{-7, 13}, -0x1.189dp+3f, 0x1.04ff6p+4f, {-13, 19}},
    };
    for (const auto& c : cases) {
        const cv::Point2d b = Barrel(1280, 720, 1500.0f, cv::Point2d(c.in));
        EXPECT_EQ(b.x, static_cast<double>(c.barrelX)) << c.in;
        EXPECT_EQ(b.y, static_cast<double>(c.barrelY)) << c.in;
        EXPECT_EQ(model.CorrectPoint(c.in), c.out) << c.in;
    }
}

struct Reference {
    double x, y, X, Y;
};
// From tests/reference/subpixel_reference.py (an independent float32 model)
// for the shipped example calibration on a 1680 x 1050 display. GCC 12's
// SLP fault (X and Y divided by w without their float rounding) changes
// every one of these quotients.
constexpr Reference kReference[] = {
    {0x0.0p+0, 0x0.0p+0, 0x1.41d8f054b7ea6p+5, 0x1.e2156aee72552p+4},
    {0x1.4800000000000p+3, 0x1.7000000000000p+2, 0x1.cc4154329946fp+5, 0x1.3ef16753e1648p+5},
    {0x1.3fc0000000000p+9, 0x1.6780000000000p+8, 0x1.8d44836a6c319p+9, 0x1.c74882cb1e186p+8},
    {0x1.3fc0000000000p+10, 0x1.6780000000000p+9, 0x1.777f18d313df6p+10, 0x1.aaf90d7dc33e4p+9},
    {0x1.9080000000000p+6, 0x1.2c70000000000p+9, 0x1.b2367d1cc547ep+7, 0x1.69af6ac0eaabfp+9},
    {0x1.2c13333333333p+10, 0x1.959999999999ap+5, 0x1.5fe9ece8bf3a7p+10, 0x1.a8b2a16d0e61ap+6},
    {-0x1.c000000000000p+1, 0x1.9020000000000p+9, 0x1.5b629bad30197p+5, 0x1.ecbf1971dd5fdp+9},
};

Model Example() {
    return ModelOf(1280, 720, 1800.0f, cv::Matx33f(1.0f, 0.03f, 40, 0, 1.02f, 30, 0.00002f, 0.00004f, 1));
}

TEST(Subpixel, MatchesAnIndependentModelBitForBit) {
    const Model q = Example();
    for (const Reference& r : kReference) {
        const cv::Point2d d = q.CorrectPointSubpixel(cv::Point2d(r.x, r.y));
        EXPECT_EQ(d.x, r.X) << std::hexfloat << r.x << ", " << r.y << " gave " << d.x;
        EXPECT_EQ(d.y, r.Y) << std::hexfloat << r.x << ", " << r.y << " gave " << d.y;
    }
}

TEST(Subpixel, IntegerInputsRoundToCorrectPoint) {
    // Inside the picture, beyond it (mirrored past the singular radius) and
    // with no barrel step.
    const Model curved = Example();
    quarvel::CalibrationParams flatParams = curved.params();
    flatParams.focalZ = 0.0f;
    const Model flat(flatParams, kDisplay);
    for (const Model* c : {&curved, &flat}) {
        for (int x = -1500; x <= 2800; x += 37) {
            for (int y = -900; y <= 1700; y += 41) {
                const cv::Point2d d = c->CorrectPointSubpixel(cv::Point2d(x, y));
                const cv::Point e = c->CorrectPoint(cv::Point(x, y));
                if (e.x == INT_MIN || e.y == INT_MIN) {
                    continue;
                }
                ASSERT_EQ(static_cast<int>(std::trunc(d.x + 0.5)), e.x) << x << "," << y;
                ASSERT_EQ(static_cast<int>(std::trunc(d.y + 0.5)), e.y) << x << "," << y;
            }
        }
    }
}

TEST(ProjectiveMapping, HomogeneousScaleAndPerspectiveRow) {
    EXPECT_EQ(ModelOf(64, 48, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 2)).CorrectPoint(cv::Point(10, 7)),
              cv::Point(5, 4));
    // w = 1.1 at (100, 50).
    EXPECT_EQ(ModelOf(64, 48, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0.001f, 0, 1)).CorrectPoint(cv::Point(100, 50)),
              cv::Point(91, 45));
}

TEST(ProjectiveMapping, UnrepresentableResultsBecomeIntMin) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        cv::Matx33f m;
        cv::Point expected;
    } cases[] = {
        {cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 0), {INT_MIN, INT_MIN}},  // w = 0
        {cv::Matx33f(1e9f, 0, 0, 0, 1, 0, 0, 0, 1), {INT_MIN, 3}},     // x out of range
        {cv::Matx33f(-1e9f, 0, 0, 0, 1, 0, 0, 0, 1), {INT_MIN, 3}},    // below INT_MIN
        {cv::Matx33f(inf, 0, 0, 0, 1, 0, 0, 0, 1), {INT_MIN, 3}},
        {cv::Matx33f(1, 0, 0, 0, nan, 0, 0, 0, 1), {5, INT_MIN}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModelOf(64, 48, 0.0f, c.m).CorrectPoint(cv::Point(5, 3)), c.expected);
    }
    // A fresh model of an all-zero matrix: no point, and no fault.
    EXPECT_EQ(ModelOf(64, 48, 100.0f, cv::Matx33f::zeros()).CorrectPoint(cv::Point(10, 5)), cv::Point(INT_MIN, INT_MIN));
}

TEST(ProjectiveMapping, ExtremeInputPointsDoNotFault) {
    const Model q = ModelOf(1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1));
    for (const cv::Point p : {cv::Point(INT_MIN, INT_MIN), cv::Point(INT_MAX, INT_MAX), cv::Point(INT_MIN, INT_MAX)}) {
        (void)q.CorrectPoint(p);
        (void)q.CorrectPointSubpixel(cv::Point2d(p));
    }
    const Model plain = ModelOf(64, 48, 0.0f);
    EXPECT_EQ(plain.CorrectPoint(cv::Point(INT_MAX, 0)).x, INT_MIN);      // 2^31 + 0.5 is out of range
    EXPECT_EQ(plain.CorrectPoint(cv::Point(INT_MIN, 0)).x, INT_MIN + 1);  // trunc(-2^31 + 0.5)
}

TEST(IntegerConversion, TruncatesTowardZeroAndFlagsTheRest) {
    using quarvel::detail::Trunc;
    using quarvel::detail::TruncPlusHalf;
    EXPECT_EQ(TruncPlusHalf(-2.5), -2);
    EXPECT_EQ(TruncPlusHalf(-0.5), 0);
    // The shift is done in double: the largest double below 0.5 rounds up
    // to 1.0 before truncation (std::round would give 0).
    EXPECT_EQ(TruncPlusHalf(0.49999999999999994), 1);
    EXPECT_EQ(TruncPlusHalf(2.5), 3);
    EXPECT_EQ(Trunc(2147483647.9), INT_MAX);
    EXPECT_EQ(Trunc(2147483648.0), INT_MIN);
    EXPECT_EQ(Trunc(-2147483648.9), INT_MIN);
    EXPECT_EQ(Trunc(-2147483647.9), -2147483647);
    EXPECT_EQ(Trunc(-2147483649.0), INT_MIN);
    EXPECT_EQ(Trunc(std::numeric_limits<double>::quiet_NaN()), INT_MIN);
    EXPECT_EQ(Trunc(-std::numeric_limits<double>::infinity()), INT_MIN);
}

}  // namespace
