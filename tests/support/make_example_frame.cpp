// Renders the example camera frame the README's calibration section uses:
// a 1280 x 720 camera seeing a 1920 x 1080 display and the wall around it
// through a barrel (corner magnification 1.2) and a keystone, with the
// simulated rig's blur, noise, vignetting and ambient light.
//   make_example_frame OUT.png
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/pattern.h>

#include "support/camera_rig.h"
#include "support/synthetic.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example_frame OUT.png\n");
        return 2;
    }
    const cv::Size display(1920, 1080);
    const quarvel::Model truth(quarvel::test::TruthFor(1.2, cv::Size(1280, 720), display, 0.04, 1.25), display);
    quarvel::test::CameraRig rig(truth, quarvel::test::RigOptions());
    return cv::imwrite(argv[1], rig.See(quarvel::MakeCalibrationPattern(display.width, display.height))) ? 0 : 1;
}
