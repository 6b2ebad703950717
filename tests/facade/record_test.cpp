// The calibration record: the zero test, construction defaults and copies.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "support/fixtures.h"
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
    const quarvel::Model m = q.GetModel();
    EXPECT_EQ(m.params().matrix, cv::Matx33f::zeros());
    EXPECT_EQ(m.params().imageWidth, 0);
    EXPECT_EQ(m.params().focalZ, 0.0f);
    EXPECT_EQ(m.geometry().outWidth, 0);
    EXPECT_EQ(m.geometry().scale, 1.0f);
    EXPECT_TRUE(q.GetBarrelImage().empty());
    EXPECT_FALSE(q.GetLoadReport().loaded);
    // The record's own handles: no reader, no normal.
    EXPECT_TRUE(P::planeNormal(q).empty());
    EXPECT_EQ(P::reader(q), nullptr);
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
        quarvel::CalibrationParams p =
            quarvel::test::ParamsOf(64, 48, 100.0f, cv::Matx33f(1, 0.1f, 3, 0.05f, 1, -2, 0.001f, 0.0005f, 1));
        p.planeNormal[0] = 0.1f;
        p.planeNormal[1] = 0.2f;
        p.planeNormal[2] = 0.9f;
        p.rotateAngle = 12.5f;
        source = quarvel::test::Loaded(p);
        source.TestBarrelCorrect(cv::Mat(48, 64, CV_8UC1, cv::Scalar(7)));
        canvas = source.GetBarrelImage();
        ASSERT_GT(cv::countNonZero(canvas), 1000);
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
    cv::Mat canvas;  // what the source's preview painted
};

TEST_F(Copies, CopyHoldsItsOwnNormalList) {
    Quarvel copy(source);
    P::planeNormal(copy).push_back(5.0f);
    P::planeNormal(copy)[0] = -1.0f;
    EXPECT_EQ(P::planeNormal(source), (std::vector<float>{0.1f, 0.2f, 0.9f}));
    EXPECT_EQ(copy.GetModel().params().rotateAngle, 12.5f);
}

TEST_F(Copies, CopyCorrectsLikeTheOriginal) {
    const Quarvel copy(source);
    ExpectSameCorrection(source, copy);
    Quarvel assigned;
    assigned = source;
    ExpectSameCorrection(source, assigned);
    // Loading the copy leaves the original alone, and the other way round.
    assigned.LoadParams(quarvel::test::ParamsOf(64, 48, 0.0f));
    EXPECT_EQ(source.GetModel().params().matrix(0, 2), 3.0f);
    EXPECT_EQ(source.CorrectPoint(cvPoint(3, 4)).x, Quarvel(source).CorrectPoint(cvPoint(3, 4)).x);
}

TEST_F(Copies, SelfAssignmentChangesNothing) {
    const CvPoint before = source.CorrectPoint(cvPoint(3, 4));
    Quarvel& alias = source;
    source = alias;
    const CvPoint after = source.CorrectPoint(cvPoint(3, 4));
    EXPECT_EQ(before.x, after.x);
    EXPECT_EQ(before.y, after.y);
    EXPECT_EQ(P::planeNormal(source).size(), 3u);
    EXPECT_EQ(cv::norm(source.GetBarrelImage(), canvas, cv::NORM_INF), 0.0);
}

TEST_F(Copies, CanvasOutlivesTheInstanceItWasCopiedFrom) {
    auto original = std::make_unique<Quarvel>(source);
    Quarvel survivor(*original);
    original.reset();
    ASSERT_FALSE(survivor.GetBarrelImage().empty());
    EXPECT_EQ(cv::norm(survivor.GetBarrelImage(), canvas, cv::NORM_INF), 0.0);
}

}  // namespace
