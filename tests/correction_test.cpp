// The main chain: set-up geometry, barrel mapping, projective mapping, and
// the integer conversions, against hand-worked and independently computed
// values.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "correction/numeric.h"
#include "support/fixtures.h"
#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;
using quarvel::test::ScopedDisplaySize;

void ExpectGeometry(const Quarvel& q, int w, int h, float cx, float cy, float scale) {
    EXPECT_EQ(P::outWidth(q), w);
    EXPECT_EQ(P::outHeight(q), h);
    EXPECT_EQ(P::outCenterX(q), cx);
    EXPECT_EQ(P::outCenterY(q), cy);
    EXPECT_EQ(P::scale(q), scale);
}

TEST(BarrelSetup, FitsOnALargeDisplayWithoutScaling) {
    const Quarvel q = P::Loaded(64, 48, 100.0f);
    EXPECT_EQ(P::centerX(q), 32.0f);
    EXPECT_EQ(P::centerY(q), 24.0f);
    ExpectGeometry(q, 76, 57, 38.0f, 28.5f, 1.0f);
    const FPoint c = P::CorrectBarrelPoint(q, cvPoint(32, 24));
    EXPECT_EQ(c.x, 38.0f);
    EXPECT_EQ(c.y, 28.5f);
}

TEST(BarrelSetup, ShrinksToTheSmallerRatioOnASmallDisplay) {
    ScopedDisplaySize display(60, 40);
    const Quarvel q = P::Loaded(64, 48, 100.0f);
    // rx = 60/76 - 0.05 ~ 0.74, ry = 40/57 - 0.05 ~ 0.65: the smaller wins.
    ExpectGeometry(q, 50, 37, 25.0f, 18.5f, 0.6517543792724609f);
}

TEST(BarrelSetup, EqualSizeToTheDisplayIsNotScaled) {
    ScopedDisplaySize display(76, 57);
    ExpectGeometry(P::Loaded(64, 48, 100.0f), 76, 57, 38.0f, 28.5f, 1.0f);
    ScopedDisplaySize smaller(75, 57);
    EXPECT_LT(P::scale(P::Loaded(64, 48, 100.0f)), 1.0f);
}

TEST(BarrelSetup, NegativeFocalGivesTheSameGeometry) {
    const Quarvel plus = P::Loaded(64, 48, 100.0f);
    const Quarvel minus = P::Loaded(64, 48, -100.0f);
    ExpectGeometry(minus, P::outWidth(plus), P::outHeight(plus), P::outCenterX(plus), P::outCenterY(plus), 1.0f);
    for (int x = 0; x < 64; x += 9) {
        const CvPoint a = plus.CorrectPoint(cvPoint(x, x / 2));
        const CvPoint b = minus.CorrectPoint(cvPoint(x, x / 2));
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
    }
}

TEST(BarrelSetup, ShortFocalStopsAndKeepsThePreviousGeometry) {
    const Quarvel fresh = P::Loaded(64, 48, 30.0f);
    EXPECT_EQ(P::centerX(fresh), 32.0f);
    EXPECT_EQ(P::centerY(fresh), 24.0f);
    ExpectGeometry(fresh, 0, 0, 0.0f, 0.0f, 1.0f);

    Quarvel q = P::Loaded(64, 48, 100.0f);
    P::imageWidth(q) = 100;
    P::focalZ(q) = 30.0f;
    P::ComputeBarrelParam(q);
    EXPECT_EQ(P::centerX(q), 50.0f);  // the source centre is stored on every path
    ExpectGeometry(q, 76, 57, 38.0f, 28.5f, 1.0f);
}

TEST(BarrelSetup, ZeroFocalCopiesTheSourceGeometryAndKeepsScale) {
    ScopedDisplaySize display(60, 40);
    Quarvel q = P::Loaded(64, 48, 100.0f);
    const float fittedScale = P::scale(q);
    P::focalZ(q) = 0.00001f;  // counts as zero
    P::imageWidth(q) = 641;
    P::imageHeight(q) = 480;
    P::ComputeBarrelParam(q);
    ExpectGeometry(q, 641, 480, 320.5f, 240.0f, fittedScale);
}

TEST(BarrelSetup, LargeImageMatchesIndependentReference) {
    // Values from a separate float32/float64 model of the chain.
    const Quarvel q = P::Loaded(1920, 1080, 1200.0f);
    ExpectGeometry(q, 1071, 602, 535.5f, 301.0f, 0x1.67b3bap-4f);
}

TEST(BarrelSetup, SingularFocalDoesNotFault) {
    // f^2 equal to the squared half-diagonal: k is infinite, the sizes have
    // no integer value.
    const Quarvel q = P::Loaded(6, 8, 5.0f);
    EXPECT_EQ(P::scale(q), 1.0f);  // INT_MIN sizes never exceed the display
    EXPECT_EQ(P::outWidth(q), INT_MIN + 1);
    // The centre itself still maps (k = 1), onto the degenerate output
    // centre -2^30.
    EXPECT_EQ(q.CorrectPoint(cvPoint(3, 4)).x, -1073741823);
}

TEST(BarrelMapping, OverviewPointLandsAtFourteenEight) {
    const Quarvel q = P::Loaded(64, 48, 100.0f);
    const FPoint b = P::CorrectBarrelPoint(q, cvPoint(10, 5));
    EXPECT_EQ(b.x, 0x1.bf057p+3f);  // ~13.97
    EXPECT_EQ(b.y, 0x1.efc398p+2f);  // ~7.75
    const CvPoint r = q.CorrectPoint(cvPoint(10, 5));
    EXPECT_EQ(r.x, 14);
    EXPECT_EQ(r.y, 8);
}

TEST(BarrelMapping, ZeroFocalPassesPointsThroughUnchanged) {
    const Quarvel q = P::Loaded(640, 480, 0.0f);
    for (const CvPoint p : {cvPoint(0, 0), cvPoint(639, 479), cvPoint(17, 300), cvPoint(5000, 2)}) {
        const CvPoint r = q.CorrectPoint(p);
        EXPECT_EQ(r.x, p.x);
        EXPECT_EQ(r.y, p.y);
    }
    // trunc(-3 + 0.5) = trunc(-2.5) = -2.
    EXPECT_EQ(q.CorrectPoint(cvPoint(-3, 4)).x, -2);
}

struct ReferencePoint {
    CvPoint in;
    float barrelX;
    float barrelY;
    CvPoint out;
};

TEST(BarrelMapping, RealisticCalibrationMatchesIndependentReference) {
    // 1280 x 720 camera, f = 1500, a mild keystone with perspective terms.
    const cv::Matx33f m(1.02f, 0.01f, -5.0f, 0.005f, 0.98f, 3.0f, 1e-5f, 2e-5f, 1.0f);
    const Quarvel q = P::Loaded(1280, 720, 1500.0f, m);
    ExpectGeometry(q, 1596, 898, 798.0f, 449.0f, 0x1.e57cc2p-1f);
    const ReferencePoint cases[] = {
        {cvPoint(0, 0), -0x1.012p-3f, 0x1.bd8p-5f, cvPoint(-4, 3)},
        {cvPoint(1279, 719), 0x1.8e7cbap+10f, 0x1.c0169p+9f, cvPoint(1576, 860)},
        {cvPoint(640, 360), 0x1.8fp+9f, 0x1.c1p+8f, cvPoint(800, 440)},
        {cvPoint(100, 600), 0x1.7fca48p+7f, 0x1.6730a2p+9f, cvPoint(195, 697)},
        // Beyond the singular radius: k turns negative and mirrors the point.
        {cvPoint(3000, -2000), 0x1.cf2828p+7f, 0x1.fbb5f6p+9f, cvPoint(236, 977)},
        {cvPoint(-7, 13), -0x1.189dp+3f, 0x1.04ff6p+4f, cvPoint(-13, 19)},
    };
    for (const ReferencePoint& c : cases) {
        const FPoint b = P::CorrectBarrelPoint(q, c.in);
        EXPECT_EQ(b.x, c.barrelX) << c.in.x << "," << c.in.y;
        EXPECT_EQ(b.y, c.barrelY) << c.in.x << "," << c.in.y;
        const CvPoint r = q.CorrectPoint(c.in);
        EXPECT_EQ(r.x, c.out.x) << c.in.x << "," << c.in.y;
        EXPECT_EQ(r.y, c.out.y) << c.in.x << "," << c.in.y;
    }
}

TEST(ProjectiveMapping, HomogeneousScaleHalvesCoordinates) {
    const Quarvel q = P::Loaded(64, 48, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 2));
    const CvPoint r = q.CorrectPoint(cvPoint(10, 7));
    EXPECT_EQ(r.x, 5);
    EXPECT_EQ(r.y, 4);
}

TEST(ProjectiveMapping, PerspectiveRowDividesByW) {
    const Quarvel q = P::Loaded(64, 48, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0.001f, 0, 1));
    const CvPoint r = q.CorrectPoint(cvPoint(100, 50));  // w = 1.1
    EXPECT_EQ(r.x, 91);
    EXPECT_EQ(r.y, 45);
}

TEST(ProjectiveMapping, UnrepresentableResultsBecomeIntMin) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        cv::Matx33f m;
        CvPoint expected;
    };
    const Case cases[] = {
        {cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 0), cvPoint(INT_MIN, INT_MIN)},    // w = 0
        {cv::Matx33f(1e9f, 0, 0, 0, 1, 0, 0, 0, 1), cvPoint(INT_MIN, 3)},       // x out of range
        {cv::Matx33f(-1e9f, 0, 0, 0, 1, 0, 0, 0, 1), cvPoint(INT_MIN, 3)},      // below INT_MIN
        {cv::Matx33f(inf, 0, 0, 0, 1, 0, 0, 0, 1), cvPoint(INT_MIN, 3)},
        {cv::Matx33f(1, 0, 0, 0, nan, 0, 0, 0, 1), cvPoint(5, INT_MIN)},
    };
    for (const Case& c : cases) {
        const Quarvel q = P::Loaded(64, 48, 0.0f, c.m);
        const CvPoint r = q.CorrectPoint(cvPoint(5, 3));
        EXPECT_EQ(r.x, c.expected.x);
        EXPECT_EQ(r.y, c.expected.y);
    }
}

TEST(ProjectiveMapping, ExtremeInputPointsDoNotFault) {
    const Quarvel q = P::Loaded(1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1));
    for (const CvPoint p : {cvPoint(INT_MIN, INT_MIN), cvPoint(INT_MAX, INT_MAX), cvPoint(INT_MIN, INT_MAX)}) {
        (void)q.CorrectPoint(p);
    }
    const Quarvel plain = P::Loaded(64, 48, 0.0f, cv::Matx33f::eye());
    EXPECT_EQ(plain.CorrectPoint(cvPoint(INT_MAX, 0)).x, INT_MIN);  // 2^31 + 0.5 is out of range
    EXPECT_EQ(plain.CorrectPoint(cvPoint(INT_MIN, 0)).x, INT_MIN + 1);  // trunc(-2^31 + 0.5)
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
