// The calibration record: the zero test, construction defaults and copies.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;

TEST(ZeroTest, BoundsAndNanCountAsZero) {
    const float upper = 0.00001f;
    const float lower = -0.00001f;
    EXPECT_TRUE(P::IsZero(upper));
    EXPECT_TRUE(P::IsZero(lower));
    EXPECT_TRUE(P::IsZero(0.0f));
    EXPECT_TRUE(P::IsZero(-0.0f));
    EXPECT_TRUE(P::IsZero(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE(P::IsZero(std::nextafter(upper, 0.0f)));
}

TEST(ZeroTest, JustOutsideTheBoundsIsNotZero) {
    EXPECT_FALSE(P::IsZero(std::nextafter(0.00001f, 1.0f)));
    EXPECT_FALSE(P::IsZero(std::nextafter(-0.00001f, -1.0f)));
    EXPECT_FALSE(P::IsZero(1.0f));
    EXPECT_FALSE(P::IsZero(std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(P::IsZero(-std::numeric_limits<float>::infinity()));
}

TEST(Construction, EverythingStartsAtZero) {
    const Quarvel q;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(P::keyStoneMat(q)(i, j), 0.0f) << i << "," << j;
        }
    }
    EXPECT_TRUE(P::planeNormal(q).empty());
    EXPECT_EQ(P::reader(q), nullptr);
    EXPECT_TRUE(P::barrelImage(q).empty());
    EXPECT_EQ(P::imageWidth(q), 0);
    EXPECT_EQ(P::outWidth(q), 0);
    EXPECT_EQ(P::focalZ(q), 0.0f);
    EXPECT_EQ(P::scale(q), 1.0f);
}

TEST(Construction, FreshInstanceReportsUnrepresentablePoints) {
    // The all-zero matrix gives w = 0 and 0 / 0: no point, and no fault.
    const Quarvel q;
    const CvPoint r = q.CorrectPoint(cvPoint(10, 5));
    EXPECT_EQ(r.x, INT_MIN);
    EXPECT_EQ(r.y, INT_MIN);
}

class Copies : public testing::Test {
protected:
    void SetUp() override {
        source = P::Loaded(64, 48, 100.0f, cv::Matx33f(1, 0.1f, 3, 0.05f, 1, -2, 0.001f, 0.0005f, 1));
        P::planeNormal(source) = {0.1f, 0.2f, 0.9f};
        P::rotateAngle(source) = 12.5f;
        P::barrelImage(source) = cv::Mat(4, 4, CV_8UC1, cv::Scalar(7));
    }
    void ExpectSameCorrection(const Quarvel& a, const Quarvel& b) {
        for (int y = -10; y < 60; y += 7) {
            for (int x = -10; x < 80; x += 9) {
                const CvPoint pa = a.CorrectPoint(cvPoint(x, y));
                const CvPoint pb = b.CorrectPoint(cvPoint(x, y));
                ASSERT_EQ(pa.x, pb.x) << x << "," << y;
                ASSERT_EQ(pa.y, pb.y) << x << "," << y;
            }
        }
    }
    Quarvel source;
};

TEST_F(Copies, CopyHoldsItsOwnNormalList) {
    Quarvel copy(source);
    P::planeNormal(copy).push_back(5.0f);
    P::planeNormal(copy)[0] = -1.0f;
    EXPECT_EQ(P::planeNormal(source), (std::vector<float>{0.1f, 0.2f, 0.9f}));
    EXPECT_EQ(P::rotateAngle(copy), 12.5f);
}

TEST_F(Copies, CopyCorrectsLikeTheOriginal) {
    const Quarvel copy(source);
    ExpectSameCorrection(source, copy);
    Quarvel assigned;
    assigned = source;
    ExpectSameCorrection(source, assigned);
    // Changing the copy's matrix leaves the original's alone.
    P::keyStoneMat(assigned)(0, 2) = 100.0f;
    EXPECT_EQ(P::keyStoneMat(source)(0, 2), 3.0f);
}

TEST_F(Copies, SelfAssignmentChangesNothing) {
    const CvPoint before = source.CorrectPoint(cvPoint(3, 4));
    Quarvel& alias = source;
    source = alias;
    const CvPoint after = source.CorrectPoint(cvPoint(3, 4));
    EXPECT_EQ(before.x, after.x);
    EXPECT_EQ(before.y, after.y);
    EXPECT_EQ(P::planeNormal(source).size(), 3u);
    EXPECT_EQ(P::barrelImage(source).at<unsigned char>(0, 0), 7);
}

TEST_F(Copies, CanvasOutlivesTheInstanceItWasCopiedFrom) {
    auto original = std::make_unique<Quarvel>(source);
    Quarvel survivor(*original);
    original.reset();
    ASSERT_FALSE(P::barrelImage(survivor).empty());
    EXPECT_EQ(P::barrelImage(survivor).at<unsigned char>(3, 3), 7);
}

}  // namespace
