// Tracking speed: frames of the simulated infrared camera with 10 fingers
// moving, through TouchTracker, clean and in speckle storms; items are
// frames.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <quarvel/touch.h>

#include "support/ir_camera.h"

namespace {

// Ten fingers, each circling its own spot once every 60 frames, seen by
// the simulated camera; with `specks` specks of `size` x `size` pixels at
// new places in every frame too (a storm).
void Track(benchmark::State& state, int specks, int size) {
    const cv::Size camera(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const quarvel::Model truth = quarvel::test::TouchTruth(camera);
    quarvel::test::IrOptions options;
    options.ambientPeriod = 60;  // frames repeat seamlessly every 60
    options.ambientDrift = 2.0;  // (a light that swings faster than this keeps the background from settling)
    quarvel::test::IrScene scene;
    if (specks > 0) {
        scene.specks.push_back({0, 1 << 30, specks, size});
    }
    quarvel::test::IrCamera ir(truth, options);
    quarvel::test::IrCamera stormy(truth, options, scene);
    constexpr int kLoop = 60;
    std::vector<cv::Mat> clean;
    std::vector<cv::Mat> frames;
    for (int f = 0; f < kLoop; ++f) {
        std::vector<cv::Point2d> fingers;
        for (int i = 0; i < 10; ++i) {
            const double a = 2.0 * M_PI * f / kLoop + i;
            const cv::Point2d centre(300.0 + 330.0 * (i % 5), 330.0 + 420.0 * (i / 5));
            fingers.push_back(ir.CameraOf(centre + 90.0 * cv::Point2d(std::cos(a), std::sin(a))));
        }
        clean.push_back(ir.RenderAt(f, fingers));
        frames.push_back(stormy.RenderAt(f, fingers));
    }
    quarvel::TouchTracker tracker(truth);
    for (int f = 0; f < 200 && (f < 15 || tracker.learning()); ++f) {
        tracker.Track(ir.RenderAt(f, {}));
    }
    // The fingers come down before any storm starts (a storm starts none).
    for (const cv::Mat& frame : clean) {
        tracker.Track(frame);
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

void BM_TrackFrame(benchmark::State& state) { Track(state, 0, 0); }
BENCHMARK(BM_TrackFrame)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

// The same fingers in a storm: 1 600 specks of 3 x 3 pixels, or 4 800
// single pixels, at new places in every frame.
void BM_TrackSpeckStorm(benchmark::State& state) { Track(state, static_cast<int>(state.range(2)), static_cast<int>(state.range(3))); }
BENCHMARK(BM_TrackSpeckStorm)->Args({640, 480, 1600, 3})->Args({640, 480, 4800, 1})->Unit(benchmark::kMillisecond);

// Ten pairs of fingertips side by side, 12 px apart (Gaussians of sigma
// 3.2 px on a 640-wide camera, in proportion on others), scrolling: every
// frame shares ten pairs' light out.
void BM_TrackClosePairs(benchmark::State& state) {
    const cv::Size camera(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const double s = camera.width / 640.0;
    quarvel::test::IrOptions options;
    options.fingerSigma = 3.2 * s;
    options.ambientPeriod = 60;
    options.ambientDrift = 2.0;
    quarvel::test::IrCamera ir(quarvel::test::TouchTruth(camera), options);
    constexpr int kLoop = 60;
    std::vector<cv::Mat> frames;
    for (int f = 0; f < kLoop; ++f) {
        // Down the frame and back, so the loop never jumps.
        const int step = f < kLoop / 2 ? f : kLoop - f;
        std::vector<cv::Point2d> tips;
        for (int i = 0; i < 10; ++i) {
            const cv::Point2d centre((80.0 + 120.0 * (i % 5)) * s, (120.0 + 200.0 * (i / 5) + 2 * step) * s);
            tips.push_back(centre - cv::Point2d(6.0 * s, 0.0));
            tips.push_back(centre + cv::Point2d(6.0 * s, 0.0));
        }
        frames.push_back(ir.RenderAt(f, tips));
    }
    quarvel::TouchTracker tracker(ir.truth());
    for (int f = 0; f < 200 && (f < 15 || tracker.learning()); ++f) {
        tracker.Track(ir.RenderAt(f, {}));
    }
    for (const cv::Mat& frame : frames) {
        tracker.Track(frame);
    }
    std::size_t contacts = 0;
    int f = 0;
    for (auto _ : state) {
        contacts += tracker.Track(frames[static_cast<std::size_t>(f)]).size();
        f = (f + 1) % kLoop;
    }
    state.SetItemsProcessed(state.iterations());
    char label[40];
    std::snprintf(label, sizeof label, "%.1f contacts a frame",
                  static_cast<double>(contacts) / static_cast<double>(state.iterations()));
    state.SetLabel(label);
}
BENCHMARK(BM_TrackClosePairs)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

}  // namespace
