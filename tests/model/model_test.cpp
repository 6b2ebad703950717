// The calibration as a value: what it is made of, that it corrects as the
// class does, and that any number of threads may use one at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <quarvel/model.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::Model;
using quarvel::test::ParamsOf;

const cv::Matx33f kKeystone(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1);

TEST(ModelValue, DisplayGivenRecordedOrAssumed) {
    quarvel::CalibrationParams p = ParamsOf(1280, 720, 1500.0f, kKeystone);
    EXPECT_EQ(Model(p, cv::Size(800, 600)).display(), cv::Size(800, 600));
    EXPECT_EQ(Model(p).display(), cv::Size(quarvel::kAssumedDisplayWidth, quarvel::kAssumedDisplayHeight));
    p.displayWidth = 1920;
    p.displayHeight = 1080;
    EXPECT_EQ(Model(p).display(), cv::Size(1920, 1080));
    EXPECT_EQ(Model(p, cv::Size(0, 600)).display(), cv::Size(1920, 1080));
    // The set-up is the one for that display.
    EXPECT_EQ(Model(p).geometry().outWidth, quarvel::SetUpBarrel(1280, 720, 1500.0f, cv::Size(1920, 1080)).outWidth);

    const Model none;
    EXPECT_EQ(none.params().imageWidth, 0);
    EXPECT_EQ(none.params().matrix, cv::Matx33f::eye());
    EXPECT_EQ(none.CorrectPoint(cv::Point(7, 3)), cv::Point(7, 3));
}

TEST(ModelValue, CorrectsExactlyAsTheLoadedClassDoes) {
    // Loaded with a small display, so the geometry is scaled; and again
    // after a load whose focal value is too short, which keeps the geometry
    // from before: the class's model carries what the record holds.
    Quarvel q = quarvel::test::Loaded(ParamsOf(1280, 720, 1500.0f, kKeystone), cv::Size(1024, 768));
    for (int round = 0; round < 2; ++round) {
        const Model m = q.GetModel();
        EXPECT_EQ(m.display(), cv::Size(1024, 768));
        for (int x = -100; x < 1400; x += 53) {
            for (int y = -60; y < 800; y += 47) {
                const CvPoint c = q.CorrectPoint(cvPoint(x, y));
                ASSERT_EQ(m.CorrectPoint(cv::Point(x, y)), cv::Point(c.x, c.y)) << x << "," << y;
                const cv::Point2d s(x + 0.25, y - 0.5);
                ASSERT_EQ(m.CorrectPointSubpixel(s), q.CorrectPointSubpixel(s));
                const cv::Point2d d = m.CorrectPointSubpixel(s);
                ASSERT_EQ(m.InvertPoint(d), q.InvertPoint(d));
            }
        }
        q.LoadParams(ParamsOf(1280, 720, 100.0f, kKeystone));
        EXPECT_EQ(q.GetModel().geometry().outcome, quarvel::Geometry::Outcome::Stopped);
    }
    // The model stays what it was whatever happens to the instance.
    const Model before = q.GetModel();
    const cv::Point2d p = before.CorrectPointSubpixel(cv::Point2d(100, 100));
    q.LoadParams(ParamsOf(640, 480, 0.0f));
    EXPECT_EQ(before.CorrectPointSubpixel(cv::Point2d(100, 100)), p);
}

TEST(ModelValue, AGivenGeometryIsTakenAsItIs) {
    const quarvel::Geometry g = quarvel::SetUpBarrel(1280, 720, 1500.0f, cv::Size(800, 600));
    const Model m(ParamsOf(1280, 720, 1500.0f), cv::Size(1920, 1080), g);
    EXPECT_EQ(m.geometry().scale, g.scale);
    EXPECT_EQ(m.display(), cv::Size(1920, 1080));
    EXPECT_EQ(m.CorrectPoint(cv::Point(640, 360)),
              cv::Point(static_cast<int>(g.outCenterX + 0.5f), static_cast<int>(g.outCenterY + 0.5f)));
}

TEST(ModelThreads, ManyThreadsCorrectWithOneModel) {
    const Model m(ParamsOf(1280, 720, 1500.0f, kKeystone), cv::Size(1920, 1080));
    constexpr int kThreads = 4;
    constexpr int kPoints = 20000;
    std::vector<cv::Point> input(kPoints);
    std::vector<cv::Point> expected(kPoints);
    std::vector<cv::Point2d> expectedSub(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        input[i] = cv::Point((i * 37) % 1400 - 60, (i * 53) % 800 - 40);
        expected[i] = m.CorrectPoint(input[i]);
        expectedSub[i] = m.CorrectPointSubpixel(cv::Point2d(input[i]) + cv::Point2d(0.5, 0.25));
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const Model copy = m;  // copies are as good as the original
            std::vector<cv::Point> batch(input.size());
            (t % 2 == 0 ? m : copy).CorrectPoints(input.data(), batch.data(), input.size());
            for (int i = 0; i < kPoints; ++i) {
                const int n = (i + t * kPoints / kThreads) % kPoints;
                const cv::Point2d s = m.CorrectPointSubpixel(cv::Point2d(input[n]) + cv::Point2d(0.5, 0.25));
                mismatches[t] += batch[n] != expected[n] || m.CorrectPoint(input[n]) != expected[n] ||
                                 s != expectedSub[n] || !(m.InvertPoint(s) == m.InvertPoint(expectedSub[n]));
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    for (const int n : mismatches) {
        EXPECT_EQ(n, 0);
    }
}

}  // namespace
