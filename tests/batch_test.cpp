// The batch path gives exactly CorrectPoint's results, in every kernel this
// machine can run, including the awkward cases.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "correction/chain_kernel.h"
#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;

struct Calibration {
    const char* name;
    int width;
    int height;
    float focal;
    cv::Matx33f m;
};

const float kInf = std::numeric_limits<float>::infinity();
const float kNan = std::numeric_limits<float>::quiet_NaN();

const Calibration kCalibrations[] = {
    {"realistic", 1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1)},
    {"strong barrel, shrunk to the display", 1920, 1080, 1200.0f, cv::Matx33f(1, 0.1f, 3, 0.05f, 1, -2, 1e-3f, -5e-4f, 1)},
    {"negative focal", 640, 480, -900.0f, cv::Matx33f::eye()},
    // 2f overflows float: the first quotient must be divided in double.
    {"focal beyond half the float range", 640, 480, 3.0e38f, cv::Matx33f(1, 0.5f, 0, 0, 1, 0, 1e-4f, 0, 1)},
    {"infinite focal", 640, 480, kInf, cv::Matx33f::eye()},
    {"tiny focal", 640, 480, 2e-5f, cv::Matx33f::eye()},
    {"focal counts as zero", 640, 480, 0.00001f, cv::Matx33f(2, 0, 1, 0, 2, 1, 0, 0, 3)},
    {"NaN focal", 640, 480, kNan, cv::Matx33f::eye()},
    {"singular radius", 6, 8, 5.0f, cv::Matx33f::eye()},
    {"zero matrix", 640, 480, 700.0f, cv::Matx33f::zeros()},
    {"w crosses zero", 640, 480, 700.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, -0.002f, 0, 1)},
    {"infinite matrix", 640, 480, 700.0f, cv::Matx33f(kInf, 0, 0, 0, 1, 0, 0, 0, 1)},
    {"NaN matrix", 640, 480, 700.0f, cv::Matx33f(1, 0, 0, 0, kNan, 0, 0, 0, 1)},
    {"huge coordinates", 640, 480, 0.0f, cv::Matx33f(1e9f, 0, 0, 0, -1e9f, 0, 0, 0, 1)},
    // Quotients exactly on rounding boundaries (odd / 2) and just beside
    // them: the kernels' cheap quotient must step aside for the exact one.
    {"quotients on boundaries", 640, 480, 0.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 2)},
    {"quotients beside boundaries", 640, 480, 0.0f, cv::Matx33f(1, 0, 1e-7f, 0, 1, -1e-7f, 0, 0, 2)},
    {"thirds", 640, 480, 900.0f, cv::Matx33f(1, 0, 0.5f, 0, 1, 0.5f, 0, 0, 3)},
};

// Points inside and around the image, far beyond the singular radius, and
// at the ends of the integer range.
std::vector<CvPoint> Points(std::size_t n, int width, int height) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> near(-200, 2200);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::vector<CvPoint> points = {cvPoint(INT_MIN, INT_MIN), cvPoint(INT_MAX, INT_MAX), cvPoint(0, 0),
                                   cvPoint(width / 2, height / 2), cvPoint(INT_MIN, 0)};
    while (points.size() < n) {
        const bool wild = random() % 16 == 0;
        points.push_back(wild ? cvPoint(any(random), any(random)) : cvPoint(near(random), near(random) / 2));
    }
    return points;
}

void ExpectSameAsCorrectPoint(const Quarvel& q, const std::vector<CvPoint>& in, const std::vector<CvPoint>& out,
                              const char* what) {
    ASSERT_EQ(in.size(), out.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const CvPoint expected = q.CorrectPoint(in[i]);
        ASSERT_EQ(out[i].x, expected.x) << what << " point " << in[i].x << "," << in[i].y;
        ASSERT_EQ(out[i].y, expected.y) << what << " point " << in[i].x << "," << in[i].y;
    }
}

TEST(BatchPath, MatchesCorrectPointBitForBit) {
    std::size_t total = 0;
    for (const Calibration& c : kCalibrations) {
        const Quarvel q = P::Loaded(c.width, c.height, c.focal, c.m);
        const std::vector<CvPoint> in = Points(100003, c.width, c.height);  // not a multiple of the lanes
        std::vector<CvPoint> out(in.size());
        q.CorrectPoints(in.data(), out.data(), in.size());
        ExpectSameAsCorrectPoint(q, in, out, c.name);
        total += in.size();
    }
    EXPECT_GE(total, 1000000u);
}

// The million-point comparison once with each instruction set the kernel
// was built for and this processor runs.
TEST(BatchPath, EveryKernelMatches) {
    std::vector<std::string> targets;
    quarvel::detail::ForEachChainTarget(
        [](const char* target, void* context) {
            static_cast<std::vector<std::string>*>(context)->push_back(target);
            std::size_t total = 0;
            for (const Calibration& c : kCalibrations) {
                const Quarvel q = P::Loaded(c.width, c.height, c.focal, c.m);
                const std::vector<CvPoint> in = Points(100003, c.width, c.height);
                std::vector<CvPoint> out(in.size(), cvPoint(7, 7));
                q.CorrectPoints(in.data(), out.data(), in.size());
                ExpectSameAsCorrectPoint(q, in, out, (std::string(c.name) + " on " + target).c_str());
                total += in.size();
            }
            EXPECT_GE(total, 1000000u);
        },
        &targets);
    EXPECT_GE(targets.size(), 1u);
    std::string names;
    for (const std::string& t : targets) {
        names += " " + t;
    }
    std::printf("kernels compared:%s\n", names.c_str());
}

TEST(BatchPath, InPlaceShortAndEmpty) {
    const Quarvel q = P::Loaded(1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1));
    for (const std::size_t n : {0u, 1u, 3u, 4u, 5u, 9u}) {
        std::vector<CvPoint> points = Points(n, 1280, 720);
        points.resize(n);
        const std::vector<CvPoint> in = points;
        q.CorrectPoints(points.data(), points.data(), n);
        ExpectSameAsCorrectPoint(q, in, points, "in place");
    }
    q.CorrectPoints(nullptr, nullptr, 0);
    q.CorrectPoints(nullptr, nullptr, 5);  // refused, nothing written
}

}  // namespace
