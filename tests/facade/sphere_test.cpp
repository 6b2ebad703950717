// The sphere model: its set-up and mapping, private steps no public
// operation reaches (through the test peer).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;

Quarvel Ball(int width, int height, float focal, cv::Size display = cv::Size(1680, 1050)) {
    Quarvel q;
    q.SetDisplaySize(display.width, display.height);
    P::imageWidth(q) = width;
    P::imageHeight(q) = height;
    P::focalZ(q) = focal;
    P::ComputeBallParam(q);
    return q;
}

TEST(SphereSetup, FitsOnALargeDisplayWithoutScaling) {
    const Quarvel q = Ball(64, 48, 100.0f);
    EXPECT_EQ(P::outWidth(q), 70);
    EXPECT_EQ(P::outHeight(q), 52);
    EXPECT_EQ(P::outCenterX(q), 35.0f);
    EXPECT_EQ(P::outCenterY(q), 26.0f);
    EXPECT_EQ(P::scale(q), 1.0f);
}

TEST(SphereSetup, ShrinksOnASmallDisplay) {
    const Quarvel q = Ball(64, 48, 100.0f, cv::Size(60, 40));
    EXPECT_EQ(P::scale(q), 0x1.703f04p-1f);  // ~0.72, the height ratio
    EXPECT_EQ(P::outWidth(q), 50);
    EXPECT_EQ(P::outHeight(q), 37);
}

TEST(SphereSetup, NoRealRootStopsAndKeepsThePreviousGeometry) {
    Quarvel q = Ball(64, 48, 100.0f);
    for (const float focal : {30.0f, -30.0f}) {  // f^2 below the squared half-diagonal
        P::focalZ(q) = focal;
        P::imageWidth(q) = 100;
        P::ComputeBallParam(q);
        EXPECT_EQ(P::centerX(q), 50.0f);  // stored on every path
        EXPECT_EQ(P::outWidth(q), 70);
        EXPECT_EQ(P::scale(q), 1.0f);
    }
}

TEST(SphereSetup, ZeroFocalCopiesTheSourceGeometry) {
    const Quarvel q = Ball(641, 480, -0.00001f);
    EXPECT_EQ(P::outWidth(q), 641);
    EXPECT_EQ(P::outCenterX(q), 320.5f);
    const FPoint p = P::CorrectBallPoint(q, cvPoint(-3, 7));
    EXPECT_EQ(p.x, -3.0f);
    EXPECT_EQ(p.y, 7.0f);
}

TEST(SphereMapping, SourceCentreLandsOnTheOutputCentre) {
    for (const float focal : {100.0f, -100.0f, 250.0f, 1e6f}) {
        const Quarvel q = Ball(64, 48, focal);
        const FPoint c = P::CorrectBallPoint(q, cvPoint(32, 24));
        EXPECT_EQ(c.x, P::outCenterX(q)) << focal;
        EXPECT_EQ(c.y, P::outCenterY(q)) << focal;
    }
}

TEST(SphereMapping, MatchesIndependentReference) {
    const Quarvel q = Ball(1280, 720, 900.0f);
    EXPECT_EQ(P::scale(q), 0x1.6ae8d4p-1f);
    EXPECT_EQ(P::outWidth(q), 1569);
    EXPECT_EQ(P::outHeight(q), 882);
    const struct {
        CvPoint in;
        float x;
        float y;
    } cases[] = {
        {cvPoint(0, 0), -0x1.f1p-5f, -0x1.42fp-2f},
        {cvPoint(1279, 719), 0x1.873d8p+10f, 0x1.b7bccap+9f},
        {cvPoint(100, 600), 0x1.150846p+8f, 0x1.4d4546p+9f},
    };
    for (const auto& c : cases) {
        const FPoint p = P::CorrectBallPoint(q, c.in);
        EXPECT_EQ(p.x, c.x) << c.in.x << "," << c.in.y;
        EXPECT_EQ(p.y, c.y) << c.in.x << "," << c.in.y;
    }
}

TEST(SphereMapping, BeyondTheFocalRadiusGivesNan) {
    const Quarvel q = Ball(64, 48, 100.0f);
    const FPoint p = P::CorrectBallPoint(q, cvPoint(500, 24));
    EXPECT_TRUE(std::isnan(p.x));
    EXPECT_TRUE(std::isnan(p.y));
}

}  // namespace
