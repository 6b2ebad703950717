// The plane keystone, rotation, shear and origin-shift steps.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;

void ExpectPoint(const FPoint& p, float x, float y) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
}

class PlaneKeystone : public testing::Test {
protected:
    void SetUp() override {
        P::planeNormal(q) = {0.1f, 0.0f, 1.0f};
        P::mapTop(q) = 2.0f;
        P::mapBottom(q) = -2.0f;
    }
    FPoint Map(float x, float y) const { return P::CorrectKeyStonePoint(q, FPoint{x, y}); }
    Quarvel q;
};

TEST_F(PlaneKeystone, ProjectsOntoTheInclinedPlane) {
    ExpectPoint(Map(10, 0), 20.0f, 0.0f);
    const FPoint left = Map(-10, 0);
    EXPECT_NEAR(left.x, -6.6667f, 1e-4f);
    EXPECT_EQ(left.y, 0.0f);
    ExpectPoint(Map(0, 5), 0.0f, 5.0f);
}

TEST_F(PlaneKeystone, WorksAboutTheKeystoneOrigin) {
    P::keyStoneOriginX(q) = 100.0f;
    P::keyStoneOriginY(q) = 50.0f;
    ExpectPoint(Map(110, 50), 120.0f, 50.0f);
    ExpectPoint(Map(100, 55), 100.0f, 55.0f);
}

TEST_F(PlaneKeystone, UsesOnlyTheFirstNormal) {
    P::planeNormal(q).insert(P::planeNormal(q).end(), {5.0f, 5.0f, 5.0f});
    ExpectPoint(Map(10, 0), 20.0f, 0.0f);
}

TEST_F(PlaneKeystone, SwitchedOffWithoutANormalOrTop) {
    P::planeNormal(q).clear();
    ExpectPoint(Map(10, 3), 10.0f, 3.0f);
    P::planeNormal(q) = {0.1f, 0.0f, 1.0f};
    P::mapTop(q) = 0.00001f;
    ExpectPoint(Map(10, 3), 10.0f, 3.0f);
}

TEST_F(PlaneKeystone, ZeroDenominatorGivesIeeeResults) {
    // den = 0.5 * 4 - 2 = 0 exactly: h = -2 / 0 is infinite.
    P::planeNormal(q) = {0.5f, 0.0f, 1.0f};
    const FPoint p = Map(4, 0);
    EXPECT_TRUE(std::isinf(p.x));
    EXPECT_TRUE(std::isnan(p.y));  // inf * 0
}

class Rotation : public testing::Test {
protected:
    void SetUp() override {
        P::outWidth(q) = 100;
        P::outHeight(q) = 100;
    }
    FPoint Turn(float degrees, float x, float y) {
        P::rotateAngle(q) = degrees;
        return P::RotatePoint(q, FPoint{x, y});
    }
    Quarvel q;
};

TEST_F(Rotation, QuarterAndHalfTurnsAboutTheOutputCentre) {
    ExpectPoint(Turn(90, 60, 50), 50.0f, 60.0f);  // clockwise on screen
    ExpectPoint(Turn(-90, 60, 50), 50.0f, 40.0f);
    ExpectPoint(Turn(180, 60, 50), 40.0f, 50.0f);
}

TEST_F(Rotation, UsesTheCalibrationsPiAndTheIntegerCentre) {
    // sin(3.1415926) is about 5.36e-8: a half turn of an offset of 1e6
    // moves y by about 0.054, where full-precision pi would leave it at 50.
    const FPoint far = Turn(180, 50 + 1e6f, 50);
    EXPECT_NEAR(far.y, 50.0536f, 0.0005f);
    EXPECT_EQ(far.x, 50.0f - 1e6f);
    // An odd output width puts the centre on a half pixel.
    P::outWidth(q) = 101;
    ExpectPoint(Turn(180, 60.5f, 50), 40.5f, 50.0f);
}

TEST_F(Rotation, ZeroAngleReturnsTheInput) {
    ExpectPoint(Turn(0.00001f, 60.25f, 3.5f), 60.25f, 3.5f);
    ExpectPoint(Turn(std::numeric_limits<float>::quiet_NaN(), 1.5f, 2.5f), 1.5f, 2.5f);
}

TEST(Shear, TruncatesWithoutRounding) {
    Quarvel q;
    P::shearX(q) = 0.5f;
    CvPoint r = P::Warp(q, FPoint{10.7f, 4.2f});
    EXPECT_EQ(r.x, 12);
    EXPECT_EQ(r.y, 4);
    P::shearX(q) = 1.0f;
    r = P::Warp(q, FPoint{-10.7f, 4.2f});
    EXPECT_EQ(r.x, -6);
    EXPECT_EQ(r.y, 4);
    P::shearX(q) = 0.0f;
    r = P::Warp(q, FPoint{10.7f, -4.2f});
    EXPECT_EQ(r.x, 10);
    EXPECT_EQ(r.y, -4);
}

TEST(Shear, UnrepresentableInputsBecomeIntMin) {
    Quarvel q;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    CvPoint r = P::Warp(q, FPoint{nan, 3e9f});
    EXPECT_EQ(r.x, INT_MIN);
    EXPECT_EQ(r.y, INT_MIN);
    P::shearX(q) = 2.0f;
    r = P::Warp(q, FPoint{inf, 1.0f});  // 0 * inf is NaN in the y row too
    EXPECT_EQ(r.x, INT_MIN);
    EXPECT_EQ(r.y, INT_MIN);
}

TEST(OriginShift, RoundTripAndNoAxisFlip) {
    const Quarvel q;
    const FPoint origin{100.5f, -20.25f};
    const FPoint d = P::ScreenToDescartes(q, cvPoint(110, 30), origin);
    ExpectPoint(d, 9.5f, 50.25f);
    ExpectPoint(P::DescartesToScreen(q, d, origin), 110.0f, 30.0f);
    const FPoint f{3.75f, -8.5f};
    ExpectPoint(P::DescartesToScreen(q, P::ScreenToDescartes(q, f, origin), origin), 3.75f, -8.5f);
}

}  // namespace
