// The class's chain from several threads: CorrectPoint only reads, so
// threads correcting points on one loaded instance get exactly the
// single-threaded results. The ThreadSanitizer stage runs this too.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

TEST(QuarvelThreads, ConcurrentCorrectionMatchesSequential) {
    const Quarvel q =
        quarvel::test::Loaded(1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1));
    constexpr int kThreads = 4;
    constexpr int kPoints = 40000;
    std::vector<CvPoint> input(kPoints);
    std::vector<CvPoint> expected(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        input[i] = cvPoint((i * 37) % 1400 - 60, (i * 53) % 800 - 40);
        expected[i] = q.CorrectPoint(input[i]);
    }
    std::vector<std::vector<CvPoint>> results(kThreads, std::vector<CvPoint>(kPoints));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the points from a different start.
            for (int n = 0; n < kPoints; ++n) {
                const int i = (n + t * kPoints / kThreads) % kPoints;
                results[t][i] = q.CorrectPoint(input[i]);
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPoints; ++i) {
            ASSERT_EQ(results[t][i].x, expected[i].x) << t << ":" << i;
            ASSERT_EQ(results[t][i].y, expected[i].y) << t << ":" << i;
        }
    }
}

TEST(QuarvelChain, ArrayMembersAreTheModels) {
    const Quarvel q =
        quarvel::test::Loaded(1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1));
    const quarvel::Model m = q.GetModel();
    const std::vector<cv::Point> ints = {{0, 0}, {640, 360}, {1279, 719}, {-50, 900}};
    const std::vector<cv::Point2f> floats = {{10.25f, 5.75f}, {639.5f, 359.5f}};
    for (const cv::_InputArray& in : {cv::_InputArray(ints), cv::_InputArray(floats)}) {
        cv::Mat fromClass;
        cv::Mat fromModel;
        ASSERT_TRUE(q.CorrectPoints(in, fromClass));
        ASSERT_TRUE(m.CorrectPoints(in, fromModel));
        EXPECT_EQ(cv::norm(fromClass, fromModel, cv::NORM_INF), 0.0);
        ASSERT_TRUE(q.InvertPoints(fromModel, fromClass));
        ASSERT_TRUE(m.InvertPoints(fromModel, fromModel));
        EXPECT_EQ(cv::norm(fromClass, fromModel, cv::NORM_INF), 0.0);
    }
}

}  // namespace
