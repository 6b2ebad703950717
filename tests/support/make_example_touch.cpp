// Records the example touch clip the quickstart tracks: 60 frames of the
// simulated infrared camera (640 x 480, a 1920 x 1080 display) with three
// fingers, as OUTDIR/touch-clip.avi (Motion JPEG, 30 frames a second), and
// the surface's calibration as OUTDIR/touch-surface.ini.
//   make_example_touch OUTDIR
#include <cmath>
#include <cstdio>
#include <string>

#include <opencv2/videoio.hpp>

#include <quarvel/parameter_file.h>

#include "support/ir_camera.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example_touch OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    quarvel::test::IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), quarvel::test::IrOptions());
    if (!quarvel::WriteParameterFile(dir + "/touch-surface.ini", camera.truth().params(), true)) {
        return 1;
    }
    cv::VideoWriter clip(dir + "/touch-clip.avi", cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0,
                         cv::Size(640, 480), false);
    if (!clip.isOpened()) {
        return 1;
    }
    const std::vector<quarvel::test::ScriptedTouch> script = {
        {18, 59, [](int f) { return cv::Point2d(300.0 + 20.0 * (f - 18), 250.0 + 8.0 * (f - 18)); }},
        {22, 59, [](int) { return cv::Point2d(1500.0, 800.0); }},
        {26, 59, [](int f) {
             const double a = 0.1 * (f - 26);
             return cv::Point2d(1200.0 + 200.0 * std::cos(a), 350.0 + 200.0 * std::sin(a));
         }}};
    clip.set(cv::VIDEOWRITER_PROP_QUALITY, 90);
    for (int f = 0; f < 60; ++f) {
        clip.write(camera.Render(f, script));
    }
    return 0;
}
