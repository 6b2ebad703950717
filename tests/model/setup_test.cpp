// The barrel set-up as a pure function: the worked examples of the
// geometry, the early stops, and values from an independent model.
#include <gtest/gtest.h>

#include <climits>

#include <quarvel/model.h>

namespace {

using quarvel::Geometry;
using quarvel::SetUpBarrel;

const cv::Size kDisplay(1680, 1050);

void ExpectGeometry(const Geometry& g, int w, int h, float cx, float cy, float scale) {
    EXPECT_EQ(g.outWidth, w);
    EXPECT_EQ(g.outHeight, h);
    EXPECT_EQ(g.outCenterX, cx);
    EXPECT_EQ(g.outCenterY, cy);
    EXPECT_EQ(g.scale, scale);
}

TEST(BarrelSetup, FitsOnALargeDisplayWithoutScaling) {
    const Geometry g = SetUpBarrel(64, 48, 100.0f, kDisplay);
    EXPECT_EQ(g.outcome, Geometry::Outcome::Fitted);
    EXPECT_EQ(g.centerX, 32.0f);
    EXPECT_EQ(g.centerY, 24.0f);
    EXPECT_NEAR(g.cornerFactor, 1.19f, 0.005f);
    ExpectGeometry(g, 76, 57, 38.0f, 28.5f, 1.0f);
}

TEST(BarrelSetup, ShrinksToTheSmallerRatioOnASmallDisplay) {
    // rx = 60/76 - 0.05 ~ 0.74, ry = 40/57 - 0.05 ~ 0.65: the smaller wins.
    ExpectGeometry(SetUpBarrel(64, 48, 100.0f, cv::Size(60, 40)), 50, 37, 25.0f, 18.5f, 0.6517543792724609f);
}

TEST(BarrelSetup, EqualSizeToTheDisplayIsNotScaled) {
    ExpectGeometry(SetUpBarrel(64, 48, 100.0f, cv::Size(76, 57)), 76, 57, 38.0f, 28.5f, 1.0f);
    EXPECT_LT(SetUpBarrel(64, 48, 100.0f, cv::Size(75, 57)).scale, 1.0f);
}

TEST(BarrelSetup, NegativeFocalGivesTheSameGeometry) {
    const Geometry plus = SetUpBarrel(64, 48, 100.0f, kDisplay);
    ExpectGeometry(SetUpBarrel(64, 48, -100.0f, kDisplay), plus.outWidth, plus.outHeight, plus.outCenterX,
                   plus.outCenterY, 1.0f);
}

TEST(BarrelSetup, ShortFocalStopsAndKeepsThePreviousGeometry) {
    const Geometry fresh = SetUpBarrel(64, 48, 30.0f, kDisplay);
    EXPECT_EQ(fresh.outcome, Geometry::Outcome::Stopped);
    EXPECT_LT(fresh.cornerFactor, 1.0f);
    EXPECT_EQ(fresh.centerX, 32.0f);
    EXPECT_EQ(fresh.centerY, 24.0f);
    ExpectGeometry(fresh, 0, 0, 0.0f, 0.0f, 1.0f);

    const Geometry earlier = SetUpBarrel(64, 48, 100.0f, kDisplay);
    const Geometry stopped = SetUpBarrel(100, 48, 30.0f, kDisplay, earlier);
    EXPECT_EQ(stopped.centerX, 50.0f);  // the source centre is stored on every path
    ExpectGeometry(stopped, 76, 57, 38.0f, 28.5f, 1.0f);
}

TEST(BarrelSetup, ZeroFocalCopiesTheSourceGeometryAndKeepsScale) {
    const Geometry fitted = SetUpBarrel(64, 48, 100.0f, cv::Size(60, 40));
    const Geometry g = SetUpBarrel(641, 480, 0.00001f, cv::Size(60, 40), fitted);  // counts as zero
    EXPECT_EQ(g.outcome, Geometry::Outcome::Uncorrected);
    ExpectGeometry(g, 641, 480, 320.5f, 240.0f, fitted.scale);
}

TEST(BarrelSetup, LargeImageMatchesIndependentReference) {
    // Values from a separate float32/float64 model of the chain.
    ExpectGeometry(SetUpBarrel(1920, 1080, 1200.0f, kDisplay), 1071, 602, 535.5f, 301.0f, 0x1.67b3bap-4f);
}

TEST(BarrelSetup, SingularFocalDoesNotFault) {
    // f^2 equal to the squared half-diagonal: k is infinite, the sizes have
    // no integer value.
    const Geometry g = SetUpBarrel(6, 8, 5.0f, kDisplay);
    EXPECT_EQ(g.scale, 1.0f);  // INT_MIN sizes never exceed the display
    EXPECT_EQ(g.outWidth, INT_MIN + 1);
}

TEST(BarrelSetup, IsPureAndRepeatable) {
    // The same arguments give the same bits, whatever came before.
    const Geometry a = SetUpBarrel(1280, 720, 1800.0f, cv::Size(1920, 1080));
    (void)SetUpBarrel(640, 480, 900.0f, cv::Size(60, 40));
    const Geometry b = SetUpBarrel(1280, 720, 1800.0f, cv::Size(1920, 1080));
    EXPECT_EQ(a.scale, b.scale);
    EXPECT_EQ(a.outWidth, b.outWidth);
    EXPECT_EQ(a.cornerFactor, b.cornerFactor);
}

}  // namespace
