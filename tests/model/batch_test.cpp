// The batch path gives exactly CorrectPoint's results, in every kernel this
// machine can run, including the awkward cases: through the model, the
// Quarvel class, and each kernel called by itself.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <quarvel/model.h>

#include "model/chain.h"
#include "support/fixtures.h"

namespace {

using quarvel::Model;

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
Model ModelOf(const Calibration& c) {
    return Model(quarvel::test::ParamsOf(c.width, c.height, c.focal, c.m), cv::Size(1680, 1050));
}

// Points inside and around the image, far beyond the singular radius, and
// at the ends of the integer range.
std::vector<cv::Point> Points(std::size_t n, int width, int height) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> near(-200, 2200);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::vector<cv::Point> points = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {0, 0}, {width / 2, height / 2}, {INT_MIN, 0}};
    while (points.size() < n) {
        const bool wild = random() % 16 == 0;
        points.push_back(wild ? cv::Point(any(random), any(random)) : cv::Point(near(random), near(random) / 2));
    }
    return points;
}

void ExpectSameAsCorrectPoint(const Model& m, const std::vector<cv::Point>& in, const std::vector<cv::Point>& out,
                              const std::string& what) {
    ASSERT_EQ(in.size(), out.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        ASSERT_EQ(out[i], m.CorrectPoint(in[i])) << what << " point " << in[i];
    }
}

TEST(BatchPath, MatchesCorrectPointBitForBit) {
    std::size_t total = 0;
    for (const Calibration& c : kCalibrations) {
        const Model m = ModelOf(c);
        const std::vector<cv::Point> in = Points(100003, c.width, c.height);  // not a multiple of the lanes
        std::vector<cv::Point> out(in.size());
        m.CorrectPoints(in.data(), out.data(), in.size());
        ExpectSameAsCorrectPoint(m, in, out, c.name);
        // The class's batch is the model's.
        const Quarvel q = quarvel::test::Loaded(quarvel::test::ParamsOf(c.width, c.height, c.focal, c.m));
        std::vector<CvPoint> classOut(in.size());
        q.CorrectPoints(reinterpret_cast<const CvPoint*>(in.data()), classOut.data(), in.size());
        for (std::size_t i = 0; i < in.size(); i += 997) {
            ASSERT_EQ(classOut[i].x, out[i].x) << c.name;
            ASSERT_EQ(classOut[i].y, out[i].y) << c.name;
        }
        total += in.size();
    }
    EXPECT_GE(total, 1000000u);
}

// The million-point comparison with each kernel the library was built with
// and this processor runs, each called by itself.
TEST(BatchPath, EveryKernelMatches) {
    using quarvel::detail::ChainKernel;
    using quarvel::detail::KernelPoint;
    const std::pair<const char*, ChainKernel> kernels[] = {{"AVX-512", quarvel::detail::Avx512ChainKernel()},
                                                           {"AVX2", quarvel::detail::Avx2ChainKernel()},
                                                           {"baseline", quarvel::detail::BaselineChainKernel()}};
    std::string names;
    for (const auto& [name, kernel] : kernels) {
        if (kernel == nullptr) {
            continue;
        }
        names += std::string(" ") + name;
        std::size_t total = 0;
        for (const Calibration& c : kCalibrations) {
            const Model m = ModelOf(c);
            const quarvel::detail::ChainParams params = quarvel::detail::KernelParams(
                quarvel::detail::ChainOf(m.params().focalZ, m.geometry(), m.params().matrix));
            const std::vector<cv::Point> in = Points(100003, c.width, c.height);
            std::vector<cv::Point> out(in.size(), cv::Point(7, 7));
            const std::size_t done = kernel(params, reinterpret_cast<const KernelPoint*>(in.data()),
                                            reinterpret_cast<KernelPoint*>(out.data()), in.size());
            ASSERT_GE(done + 8, in.size());
            for (std::size_t i = done; i < in.size(); ++i) {
                out[i] = m.CorrectPoint(in[i]);
            }
            ExpectSameAsCorrectPoint(m, in, out, std::string(c.name) + " on " + name);
            total += in.size();
        }
        EXPECT_GE(total, 1000000u);
    }
    EXPECT_FALSE(names.empty());
    std::printf("kernels compared:%s\n", names.c_str());
}

TEST(BatchPath, InPlaceShortAndEmpty) {
    const Model m = ModelOf(kCalibrations[0]);
    for (const std::size_t n : {0u, 1u, 3u, 4u, 5u, 9u}) {
        std::vector<cv::Point> points = Points(n, 1280, 720);
        points.resize(n);
        const std::vector<cv::Point> in = points;
        m.CorrectPoints(points.data(), points.data(), n);
        ExpectSameAsCorrectPoint(m, in, points, "in place");
    }
    m.CorrectPoints(nullptr, nullptr, 0);
    m.CorrectPoints(nullptr, nullptr, 5);  // refused, nothing written
}

}  // namespace
