// Correcting with a lens stage in front of the barrel and matrix: the same
// calibration and points as BM_CorrectPointsBatch, with a webcam-like lens
// stage added. Its table of every camera pixel is built once, before the
// timing; BM_LensStageTable measures that build.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

namespace {

constexpr int kWidth = 1680;
constexpr int kHeight = 1050;

quarvel::CalibrationParams Staged() {
    quarvel::CalibrationParams p;
    p.imageWidth = kWidth;
    p.imageHeight = kHeight;
    p.focalZ = 4000.0f;
    p.matrix = cv::Matx33f(1.0f, 0.03f, 40, 0, 1.02f, 30, 2e-5f, 4e-5f, 1);
    quarvel::LensStage& l = p.lens;
    l.form = quarvel::LensStage::Form::Polynomial;
    l.centerX = 845.5;
    l.centerY = 520.25;
    l.focal = 1008.0;
    l.k[0] = -0.12;
    l.k[1] = 0.04;
    l.p[0] = 5e-4;
    l.homography = cv::Matx33d(1.0, 0.02, 30.0, -0.01, 1.0, 20.0, 1e-6, 2e-6, 1.0);
    return p;
}

const std::vector<CvPoint>& Points() {
    static const std::vector<CvPoint> points = [] {
        std::vector<CvPoint> p;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                p.push_back(cvPoint(x, y));
            }
        }
        return p;
    }();
    return points;
}

void Run(benchmark::State& state, bool lens) {
    quarvel::CalibrationParams p = Staged();
    if (!lens) {
        p.lens = quarvel::LensStage();
    }
    Quarvel q;
    q.SetDisplaySize(kWidth, kHeight);
    q.LoadParams(p);
    const std::vector<CvPoint>& in = Points();
    std::vector<CvPoint> out(in.size());
    q.CorrectPoints(in.data(), out.data(), in.size());  // the table, built once
    for (auto _ : state) {
        q.CorrectPoints(in.data(), out.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_CorrectPointsPlainSameCalibration(benchmark::State& state) { Run(state, false); }
BENCHMARK(BM_CorrectPointsPlainSameCalibration)->Unit(benchmark::kMillisecond);

void BM_CorrectPointsLensStage(benchmark::State& state) { Run(state, true); }
BENCHMARK(BM_CorrectPointsLensStage)->Unit(benchmark::kMillisecond);

// Loading a calibration with a lens stage and correcting one batch: the
// lattice and the table built, once per load.
void BM_LensStageTable(benchmark::State& state) {
    const quarvel::CalibrationParams p = Staged();
    const std::vector<CvPoint>& in = Points();
    std::vector<CvPoint> out(1);
    for (auto _ : state) {
        Quarvel q;
        q.SetDisplaySize(kWidth, kHeight);
        q.LoadParams(p);
        q.CorrectPoints(in.data(), out.data(), 1);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_LensStageTable)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
