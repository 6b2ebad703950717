// From a display position back to the camera image.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <quarvel/model.h>

#include "support/fixtures.h"

namespace {

using quarvel::Model;
using quarvel::test::ParamsOf;

const cv::Size kDisplay(1680, 1050);
const cv::Matx33f kKeystone(1.0f, 0.03f, 40, 0, 1.02f, 30, 0.00002f, 0.00004f, 1);

TEST(Inverse, RoundTripsOverThePicture) {
    const Model q(ParamsOf(1280, 720, 1800.0f, kKeystone), kDisplay);
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
    const Model flat(ParamsOf(1280, 720, 0.0f, kKeystone), kDisplay);
    const cv::Point2d c = flat.InvertPoint(flat.CorrectPointSubpixel(cv::Point2d(300.5, 200.25)));
    EXPECT_NEAR(c.x, 300.5, 1e-3);
    EXPECT_NEAR(c.y, 200.25, 1e-3);
}

TEST(Inverse, NaNWhereNoCameraPointMaps) {
    // w <= 0 (the far side of the horizon), a singular matrix, non-finite
    // input.
    const Model horizon(ParamsOf(1280, 720, 1800.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, -0.001f, 0, 1)), kDisplay);
    EXPECT_TRUE(std::isnan(horizon.InvertPoint(cv::Point2d(-2000, 0)).x));
    const Model singular(ParamsOf(1280, 720, 1800.0f, cv::Matx33f::zeros()), kDisplay);
    EXPECT_TRUE(std::isnan(singular.InvertPoint(cv::Point2d(10, 10)).x));
    const Model flat(ParamsOf(1280, 720, 0.0f, kKeystone), kDisplay);
    EXPECT_TRUE(std::isnan(flat.InvertPoint(cv::Point2d(NAN, 10)).y));
}

}  // namespace
