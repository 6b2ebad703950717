// Homographies, the lens model and the mean-shift, each against what does
// not share its code: OpenCV's projection and closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "numeric/homography.h"
#include "numeric/lens_math.h"
#include "numeric/mean_shift.h"

namespace {

using quarvel::LensStage;

TEST(Homography, AppliedInFrontAndFittedBack) {
    const cv::Matx33d h(1.1, 0.05, 30, -0.02, 0.95, 12, 2e-4, -1e-4, 1);
    std::vector<cv::Point2d> from;
    std::vector<cv::Point2d> to;
    for (int k = 0; k < 12; ++k) {
        from.emplace_back(40 * (k % 4), 55 * (k / 4));
        to.push_back(quarvel::detail::ApplyHomography(h, from.back()));
    }
    std::vector<cv::Point2f> opencv;
    cv::perspectiveTransform(std::vector<cv::Point2f>{cv::Point2f(120, 110)}, opencv, cv::Mat(cv::Matx33f(h)));
    EXPECT_NEAR(quarvel::detail::ApplyHomography(h, cv::Point2d(120, 110)).x, opencv[0].x, 1e-3);
    cv::Matx33d fitted;
    ASSERT_TRUE(quarvel::detail::FitHomography(from, to, std::vector<bool>(from.size(), true), fitted));
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(fitted.val[i], h.val[i], 1e-9 * (1 + std::abs(h.val[i]) * 1e4));
    }
    // Behind the plane (w <= 0) there is no point in front, only the quotient.
    const cv::Matx33d flip(1, 0, 0, 0, 1, 0, -1, 0, 10);
    EXPECT_TRUE(std::isnan(quarvel::detail::ApplyHomographyInFront(flip, cv::Point2d(20, 0)).x));
    EXPECT_DOUBLE_EQ(quarvel::detail::ApplyHomography(flip, cv::Point2d(20, 0)).x, -2.0);
    EXPECT_FALSE(quarvel::detail::FitHomography(from, to, std::vector<bool>(from.size(), false), fitted));
}

TEST(LensMath, TheLensModelIsOpenCVsAndUndoesItself) {
    // The polynomial form is OpenCV's distortion model (focal length f,
    // principal point c): the same coefficients move a point alike.
    LensStage lens;
    lens.form = LensStage::Form::Polynomial;
    lens.centerX = 652.0;
    lens.centerY = 355.0;
    lens.focal = 900.0;
    lens.k[0] = -0.3;
    lens.k[1] = 0.1;
    lens.k[2] = 0.02;
    lens.p[0] = 1e-3;
    lens.p[1] = -2e-3;
    const cv::Matx33d camera(lens.focal, 0, lens.centerX, 0, lens.focal, lens.centerY, 0, 0, 1);
    const std::vector<double> coefficients = {lens.k[0], lens.k[1], lens.p[0], lens.p[1], lens.k[2]};
    for (const cv::Point2d undistorted : {cv::Point2d(100, 80), cv::Point2d(652, 355), cv::Point2d(1200, 640)}) {
        const cv::Point3d ray((undistorted.x - lens.centerX) / lens.focal, (undistorted.y - lens.centerY) / lens.focal,
                              1.0);
        std::vector<cv::Point2d> seen;
        cv::projectPoints(std::vector<cv::Point3d>{ray}, cv::Vec3d(), cv::Vec3d(), camera, coefficients, seen);
        const cv::Point2d ours = quarvel::detail::DistortPixel(lens, undistorted);
        EXPECT_NEAR(ours.x, seen[0].x, 1e-6);
        EXPECT_NEAR(ours.y, seen[0].y, 1e-6);
        const cv::Point2d back = quarvel::detail::UndistortPixel(lens, ours);
        EXPECT_NEAR(back.x, undistorted.x, 1e-6);
        EXPECT_NEAR(back.y, undistorted.y, 1e-6);
    }
    EXPECT_TRUE(quarvel::detail::UsableLens(lens));
    LensStage broken = lens;
    broken.focal = 0.0;
    EXPECT_FALSE(quarvel::detail::UsableLens(broken));
    broken = lens;
    broken.gridColumns = 5;  // a grid size without its points
    EXPECT_FALSE(quarvel::detail::UsableLens(broken));
}

TEST(MeanShift, FindsTheMiddleOfAPeakAndIgnoresWhatLiesFar) {
    // A symmetric peak about (10.25, 20.5) and a bright sample 12 widths away.
    std::vector<cv::Point3d> samples;
    for (int dy = -4; dy <= 4; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            samples.emplace_back(10.25 + dx, 20.5 + dy, std::exp(-0.1 * (dx * dx + dy * dy)));
        }
    }
    samples.emplace_back(40.0, 20.5, 50.0);
    const cv::Point2d found = quarvel::detail::MeanShift(samples, cv::Point2d(11.5, 19.0), 2.5, 8);
    EXPECT_NEAR(found.x, 10.25, 0.02);
    EXPECT_NEAR(found.y, 20.5, 0.02);
    // Nothing weighs: it stays where it started.
    EXPECT_EQ(quarvel::detail::MeanShift({}, cv::Point2d(3, 4), 2.0, 4), cv::Point2d(3, 4));
}

}  // namespace
