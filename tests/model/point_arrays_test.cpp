// Point arrays through the model: the types and shapes OpenCV uses, in
// place and strided.
#include <gtest/gtest.h>

#include <vector>

#include <quarvel/model.h>

#include "support/fixtures.h"

namespace {

using quarvel::Model;

Model Example() {
    return Model(quarvel::test::ParamsOf(1280, 720, 1800.0f,
                                         cv::Matx33f(1.0f, 0.03f, 40, 0, 1.02f, 30, 0.00002f, 0.00004f, 1)),
                 cv::Size(1680, 1050));
}

TEST(PointArrays, TypesShapesAndInPlace) {
    const Model q = Example();
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
    std::vector<cv::Point2d> subD = {{10, 5}};
    std::vector<cv::Point2d> subDOut;
    ASSERT_TRUE(q.CorrectPoints(subD, subDOut));
    EXPECT_EQ(subDOut[0], q.CorrectPointSubpixel(cv::Point2d(10, 5)));

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

TEST(PointArrays, StridedAndEmptyInputs) {
    const Model q = Example();
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

}  // namespace
