// Tracking speed: frames of the simulated infrared camera with 10 fingers
// moving, through TouchTracker; items are frames.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <quarvel/touch.h>

#include "support/ir_camera.h"

namespace {

void BM_TrackFrame(benchmark::State& state) {
    const cv::Size camera(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const quarvel::Model truth = quarvel::test::TouchTruth(camera);
    quarvel::test::IrOptions options;
    options.ambientPeriod = 60;  // frames repeat seamlessly every 60
    quarvel::test::IrCamera ir(truth, options);
    // Ten fingers, each circling its own spot once every 60 frames.
    constexpr int kLoop = 60;
    std::vector<cv::Mat> frames;
    for (int f = 0; f < kLoop; ++f) {
        std::vector<cv::Point2d> fingers;
        for (int i = 0; i < 10; ++i) {
            const double a = 2.0 * M_PI * f / kLoop + i;
            const cv::Point2d centre(300.0 + 330.0 * (i % 5), 330.0 + 420.0 * (i / 5));
            fingers.push_back(ir.CameraOf(centre + 90.0 * cv::Point2d(std::cos(a), std::sin(a))));
        }
        frames.push_back(ir.RenderAt(f, fingers));
    }
    quarvel::TouchTracker tracker(truth);
    for (int f = 0; f < 15; ++f) {
        tracker.Track(ir.RenderAt(f, {}));
    }
    std::size_t contacts = 0;
    int f = 0;
    for (auto _ : state) {
        contacts += tracker.Track(frames[static_cast<std::size_t>(f)]).size();
        f = (f + 1) % kLoop;
    }
    state.SetItemsProcessed(state.iterations());
    // A label, not a counter: the CSV report needs every counter in every row.
    char label[40];
    std::snprintf(label, sizeof label, "%.1f contacts a frame",
                  static_cast<double>(contacts) / static_cast<double>(state.iterations()));
    state.SetLabel(label);
}
BENCHMARK(BM_TrackFrame)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

}  // namespace
