// Throughput of the correction chain, the batch path and the preview's
// painting, side by side with the OpenCV operations a user would otherwise
// reach for. Run through bench/run.sh, which prints the ratios.

#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "highway_chain_kernel.h"
#include "model/chain.h"

namespace {

constexpr int kGridWidth = 1680;
constexpr int kGridHeight = 1050;

// A realistic calibration for a source of the given size: a visible barrel
// (corner magnification about 1.2, fitted to the display) and a keystone
// matrix with perspective terms.
std::string WriteCalibration(int width, int height) {
    const double halfDiagonal2 = 0.25 * (double(width) * width + double(height) * height);
    const double focal = std::sqrt(6.0 * halfDiagonal2);  // f^2 / (f^2 - s) = 1.2
    const std::string path = "/tmp/quarvel-bench-" + std::to_string(width) + "x" + std::to_string(height) + ".ini";
    std::ofstream(path) << "[图像参数]\n图像宽度=" << width << "\n图像高度=" << height << "\n"
                        << "[桶形校正参数]\n焦点Z值=" << focal << "\n"
                        << "[矩阵参数]\na00=1.0\na01=0.03\na02=40\na10=0\na11=1.02\na12=30\n"
                        << "a20=0.00002\na21=0.00004\na22=1\n";
    return path;
}

// One loaded instance per source size, loaded on first use, set up for
// the 1680 x 1050 display (no X server is asked).
const Quarvel& Calibrated(int width, int height) {
    static std::map<std::pair<int, int>, Quarvel> loaded;
    const auto [it, fresh] = loaded.try_emplace({width, height});
    if (fresh) {
        it->second.SetDisplaySize(1680, 1050);
        it->second.ReadIniParam(WriteCalibration(width, height).c_str());
    }
    return it->second;
}

const std::vector<CvPoint>& GridPoints() {
    static const std::vector<CvPoint> points = [] {
        std::vector<CvPoint> p;
        p.reserve(std::size_t{kGridWidth} * kGridHeight);
        for (int y = 0; y < kGridHeight; ++y) {
            for (int x = 0; x < kGridWidth; ++x) {
                p.push_back(cvPoint(x, y));
            }
        }
        return p;
    }();
    return points;
}

void BM_CorrectPointPerPoint(benchmark::State& state) {
    const Quarvel& q = Calibrated(kGridWidth, kGridHeight);
    const std::vector<CvPoint>& in = GridPoints();
    for (auto _ : state) {
        for (const CvPoint& p : in) {
            benchmark::DoNotOptimize(q.CorrectPoint(p));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_CorrectPointPerPoint)->Unit(benchmark::kMillisecond);

// What the batch path does where no vector kernel runs: CorrectPoint into
// an output array.
void BM_CorrectPointsScalarFallback(benchmark::State& state) {
    const Quarvel& q = Calibrated(kGridWidth, kGridHeight);
    const std::vector<CvPoint>& in = GridPoints();
    std::vector<CvPoint> out(in.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < in.size(); ++i) {
            out[i] = q.CorrectPoint(in[i]);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_CorrectPointsScalarFallback)->Unit(benchmark::kMillisecond);

void BM_CorrectPointsBatch(benchmark::State& state) {
    const Quarvel& q = Calibrated(kGridWidth, kGridHeight);
    const std::vector<CvPoint>& in = GridPoints();
    std::vector<CvPoint> out(in.size());
    for (auto _ : state) {
        q.CorrectPoints(in.data(), out.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_CorrectPointsBatch)->Unit(benchmark::kMillisecond);

// Baseline: the projective step alone, in float, over the same points.
void BM_OpenCvPerspectiveTransform(benchmark::State& state) {
    const std::vector<CvPoint>& grid = GridPoints();
    std::vector<cv::Point2f> in(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i) {
        in[i] = cv::Point2f(static_cast<float>(grid[i].x), static_cast<float>(grid[i].y));
    }
    std::vector<cv::Point2f> out(in.size());
    const cv::Matx33f m(1.0f, 0.03f, 40, 0, 1.02f, 30, 0.00002f, 0.00004f, 1);
    for (auto _ : state) {
        cv::perspectiveTransform(in, out, m);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}
BENCHMARK(BM_OpenCvPerspectiveTransform)->Unit(benchmark::kMillisecond);

// The kernel parameters of a loaded instance, from its model.
quarvel::detail::ChainParams ParamsOf(const Quarvel& q) {
    const quarvel::Model m = q.GetModel();
    return quarvel::detail::KernelParams(quarvel::detail::ChainOf(m.params().focalZ, m.geometry(), m.params().matrix));
}

cv::Mat GreySource(int width, int height) {
    cv::Mat source(height, width, CV_8UC1);
    cv::randu(source, 1, 255);
    return source;
}

// The first preview of a calibration: the chain over every source pixel,
// building the cache, then the gather. Each iteration drops the cache as a
// new load does (SetDisplaySize), in a host that has previewed before (the
// map's memory is reused, as after a reload).
void BM_PaintPreview(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    Quarvel q = Calibrated(width, height);
    const cv::Mat source = GreySource(width, height);
    benchmark::DoNotOptimize(q.RenderBarrel(source).data);
    for (auto _ : state) {
        q.SetDisplaySize(0, 0);  // drops the cache; the calibration stays
        cv::Mat canvas = q.RenderBarrel(source);
        benchmark::DoNotOptimize(canvas.data);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width * height);
}
BENCHMARK(BM_PaintPreview)->Args({640, 480})->Args({1680, 1050})->Unit(benchmark::kMillisecond);

// Later previews with the same calibration and source size: the gather.
void BM_PaintPreviewRepeat(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const Quarvel& q = Calibrated(width, height);
    const cv::Mat source = GreySource(width, height);
    benchmark::DoNotOptimize(q.RenderBarrel(source).data);
    for (auto _ : state) {
        cv::Mat canvas = q.RenderBarrel(source);
        benchmark::DoNotOptimize(canvas.data);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width * height);
}
BENCHMARK(BM_PaintPreviewRepeat)->Args({1680, 1050})->Unit(benchmark::kMillisecond);

// A live camera through the calibration: each 1280 x 720 colour frame
// (already decoded) converted to grey and painted; items are frames.
void BM_LivePreview(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const Quarvel& q = Calibrated(width, height);
    cv::Mat frame(height, width, CV_8UC3);
    cv::randu(frame, 0, 255);
    cv::Mat grey;
    for (auto _ : state) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        cv::Mat canvas = q.RenderBarrel(grey);
        benchmark::DoNotOptimize(canvas.data);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LivePreview)->Args({1280, 720})->Unit(benchmark::kMillisecond);

// The hole-free picture, map cached.
void BM_FilledPreviewRepeat(benchmark::State& state) {
    const Quarvel& q = Calibrated(1280, 720);
    const cv::Mat source = GreySource(1280, 720);
    benchmark::DoNotOptimize(q.RenderBarrelFilled(source).data);
    for (auto _ : state) {
        cv::Mat canvas = q.RenderBarrelFilled(source);
        benchmark::DoNotOptimize(canvas.data);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FilledPreviewRepeat)->Unit(benchmark::kMillisecond);

// The same chain on Google Highway (bench/highway_chain_kernel.cpp).
void BM_CorrectPointsBatchHighway(benchmark::State& state) {
    const Quarvel& q = Calibrated(kGridWidth, kGridHeight);
    const std::vector<CvPoint>& in = GridPoints();
    std::vector<CvPoint> out(in.size());
    const quarvel::detail::ChainParams params = ParamsOf(q);
    for (auto _ : state) {
        quarvel::detail::HighwayChainBlocks(params, reinterpret_cast<const quarvel::detail::KernelPoint*>(in.data()),
                                            reinterpret_cast<quarvel::detail::KernelPoint*>(out.data()), in.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_CorrectPointsBatchHighway)->Unit(benchmark::kMillisecond);

// The library's own kernel through the same entry (no scalar tail).
void BM_CorrectPointsBatchKernel(benchmark::State& state) {
    const Quarvel& q = Calibrated(kGridWidth, kGridHeight);
    const std::vector<CvPoint>& in = GridPoints();
    std::vector<CvPoint> out(in.size());
    const quarvel::detail::ChainParams params = ParamsOf(q);
    for (auto _ : state) {
        quarvel::detail::CorrectPointBlocks(params, reinterpret_cast<const quarvel::detail::KernelPoint*>(in.data()),
                                            reinterpret_cast<quarvel::detail::KernelPoint*>(out.data()), in.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_CorrectPointsBatchKernel)->Unit(benchmark::kMillisecond);

// Baseline: remapping a 1680 x 1050 image with a precomputed map (nearest
// neighbour, the closest to the preview's pixel placement).
void BM_OpenCvRemap(benchmark::State& state) {
    const cv::Mat source = GreySource(kGridWidth, kGridHeight);
    cv::Mat mapX(kGridHeight, kGridWidth, CV_32FC1);
    cv::Mat mapY(kGridHeight, kGridWidth, CV_32FC1);
    const Quarvel& q = Calibrated(kGridWidth, kGridHeight);
    for (int y = 0; y < kGridHeight; ++y) {
        for (int x = 0; x < kGridWidth; ++x) {
            const CvPoint p = q.CorrectPoint(cvPoint(x, y));
            mapX.at<float>(y, x) = static_cast<float>(p.x);
            mapY.at<float>(y, x) = static_cast<float>(p.y);
        }
    }
    cv::Mat out;
    for (auto _ : state) {
        cv::remap(source, out, mapX, mapY, cv::INTER_NEAREST);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kGridWidth * kGridHeight);
}
BENCHMARK(BM_OpenCvRemap)->Unit(benchmark::kMillisecond);

void BM_ReadIniParam(benchmark::State& state) {
    const std::string path = QUARVEL_EXAMPLE_CALIBRATION;
    for (auto _ : state) {
        Quarvel q;
        benchmark::DoNotOptimize(q.ReadIniParam(path.c_str()));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ReadIniParam)->Unit(benchmark::kMicrosecond);

// Fitting a calibration to 25 measured pairs (5 x 5 targets, 0.3 px noise)
// of a 1280 x 720 camera on a 1920 x 1080 display; items are fits.
void BM_FitCalibration(benchmark::State& state) {
    quarvel::CalibrationParams truth;
    truth.imageWidth = 1280;
    truth.imageHeight = 720;
    truth.focalZ = static_cast<float>(std::sqrt((640.0 * 640 + 360.0 * 360) * 6.0));
    truth.matrix = cv::Matx33f(1.2f, 0.02f, 30, -0.01f, 1.2f, 20, 2e-5f, 3e-5f, 1);
    const quarvel::Model q(truth, cv::Size(1920, 1080));
    const int side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(state.range(0)))));
    std::vector<quarvel::PointPair> pairs;
    cv::RNG noise(5);
    for (const cv::Point2d& target : quarvel::TargetGrid(side, side, cv::Size(1920, 1080))) {
        pairs.push_back({q.InvertPoint(target) + cv::Point2d(noise.gaussian(0.3), noise.gaussian(0.3)), target});
    }
    quarvel::FitOptions options;
    options.imageWidth = 1280;
    options.imageHeight = 720;
    options.displayWidth = 1920;
    options.displayHeight = 1080;
    for (auto _ : state) {
        benchmark::DoNotOptimize(quarvel::FitCalibration(pairs, options));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FitCalibration)->Arg(25)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Side by side on one core: OpenCV would otherwise spread remap and
    // perspectiveTransform over every core while the library uses one.
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
