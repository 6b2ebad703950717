// The fusion's cost: a 2 x 2 wall of 640 x 480 cameras, 20 fingers on it,
// each finger in an overlap seen by two or four cameras; per frame, every
// camera's contacts pushed and the surface fused.

#include <benchmark/benchmark.h>

#include <vector>

#include <quarvel/fusion.h>

namespace {

quarvel::Model Camera() {
    quarvel::CalibrationParams p;
    p.imageWidth = 640;
    p.imageHeight = 480;
    return quarvel::Model(p, cv::Size(1920, 1080));
}

void BM_FuseFourCameras(benchmark::State& state) {
    quarvel::TouchFusion fusion;
    for (int k = 0; k < 4; ++k) {
        fusion.AddCamera("camera", Camera());
    }
    // Camera k sees the quarter it is named for and the overlaps: 5
    // contacts a camera, 20 in all, every finger seen twice or more.
    std::vector<quarvel::TouchFrame> frames(4);
    long long n = 0;
    double t = 0.0;
    for (auto _ : state) {
        t += 1.0 / 30;
        ++n;
        for (int k = 0; k < 4; ++k) {
            quarvel::TouchFrame& f = frames[static_cast<std::size_t>(k)];
            f.t = t;
            f.contacts.clear();
            for (int i = 0; i < 5; ++i) {
                quarvel::Contact c;
                c.id = k * 5 + i + 1;
                c.x = 860 + 40 * i + 0.5 * (n % 30) + 0.01 * k;
                c.y = 440 + 40 * ((i + k) % 5) + 0.01 * k;
                c.cx = 100 + 80 * i;
                c.cy = 100 + 60 * k;
                c.state = n == 1 ? quarvel::ContactState::Down : quarvel::ContactState::Move;
                f.contacts.push_back(c);
            }
            fusion.Push(k, f);
        }
        benchmark::DoNotOptimize(fusion.Fuse(t).size());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FuseFourCameras);

}  // namespace
