// Our tracker beside the pipeline the camera-touch trackers users know
// run: a background difference, a 3 x 3 blur, a fixed threshold, contours
// and their moments, written with OpenCV's optimised calls. Both take the
// same decoded frames of a field session (a camera of black level, gamma,
// noise and motion blur, through JPEG as MJPEG cameras send: fingers
// dragging, holding and circling, a lamp switched on, a glint, a speckle
// storm), one frame each in turn on one core; each frame's cost is timed
// alone and the medians compared.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <quarvel/touch.h>

#include "support/ir_camera.h"
#include "touch/scene.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<cv::Mat> FieldSession(cv::Size camera, quarvel::Model& truth) {
    truth = quarvel::test::TouchTruth(camera);
    quarvel::test::IrOptions options;
    options.noiseSigma = 2.5;
    options.blackLevel = 8.0;
    options.gamma = 1.4;
    options.motionBlur = 0.3;
    options.jpegQuality = 70;
    quarvel::test::IrScene scene;
    scene.lamps.push_back({200, cv::Rect2d(0, camera.height / 2.0, camera.width / 2.0, camera.height / 2.0), 40.0});
    scene.glints.push_back({120, cv::Point2d(camera.width * 0.3, camera.height * 0.2)});
    scene.specks.push_back({150, 159, 1600, 3});  // rain on the window for a third of a second
    quarvel::test::IrCamera ir(truth, options, scene);
    std::vector<quarvel::test::ScriptedTouch> script;
    for (int start : {20, 90, 160, 230}) {
        script.push_back(quarvel::test::Drag(start));
        script.push_back(quarvel::test::Circle(start + 10));
        script.push_back(quarvel::test::Hold(start + 5, 50));
    }
    std::vector<cv::Mat> frames;
    for (int f = 0; f < 300; ++f) {
        frames.push_back(ir.Render(f, script));
    }
    return frames;
}

// The classic pipeline's whole frame: the finger centroids it would send.
std::size_t Classic(const cv::Mat& frame, const cv::Mat& background, cv::Mat& diff, cv::Mat& blurred, cv::Mat& binary,
                    std::vector<std::vector<cv::Point>>& contours, std::vector<cv::Point2d>& centres) {
    cv::absdiff(frame, background, diff);
    cv::blur(diff, blurred, cv::Size(3, 3));
    cv::threshold(blurred, binary, 30, 255, cv::THRESH_BINARY);
    cv::findContours(binary, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    centres.clear();
    for (const std::vector<cv::Point>& c : contours) {
        const cv::Moments m = cv::moments(c);
        if (m.m00 > 0) {
            centres.emplace_back(m.m10 / m.m00, m.m01 / m.m00);
        }
    }
    return centres.size();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void BM_TrackVsClassicPipeline(benchmark::State& state) {
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);  // one core, as ours runs on the calling thread
    const cv::Size camera(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    quarvel::Model truth;
    const std::vector<cv::Mat> frames = FieldSession(camera, truth);
    cv::Mat background;
    cv::Mat sum = cv::Mat::zeros(camera, CV_32F);
    for (int f = 0; f < 15; ++f) {
        cv::accumulate(frames[static_cast<std::size_t>(f)], sum);
    }
    sum.convertTo(background, CV_8U, 1.0 / 15);
    cv::Mat diff, blurred, binary;
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Point2d> centres;
    std::vector<double> ours;
    std::vector<double> classic;
    std::size_t found = 0;
    for (auto _ : state) {
        quarvel::TouchTracker tracker(truth);
        for (std::size_t f = 0; f < frames.size(); ++f) {
            // In turn, which goes first alternating: neither finds the
            // other's data in the caches.
            for (int k = 0; k < 2; ++k) {
                const auto start = Clock::now();
                if ((k == 0) == (f % 2 == 0)) {
                    found += tracker.Track(frames[f]).size();
                    ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                } else {
                    found += Classic(frames[f], background, diff, blurred, binary, contours, centres);
                    classic.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                }
            }
        }
    }
    cv::setNumThreads(threads);
    benchmark::DoNotOptimize(found);
    state.counters["ours_ms"] = Median(ours);
    state.counters["classic_ms"] = Median(classic);
    state.counters["ratio"] = Median(ours) / Median(classic);
    std::sort(ours.begin(), ours.end());
    std::sort(classic.begin(), classic.end());
    state.counters["ours_p99_ms"] = ours[ours.size() * 99 / 100];
    state.counters["classic_p99_ms"] = classic[classic.size() * 99 / 100];
}
BENCHMARK(BM_TrackVsClassicPipeline)->Args({640, 480})->Args({1280, 720})->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
