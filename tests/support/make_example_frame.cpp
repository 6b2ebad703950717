// Renders the example camera frames the README's calibration section uses,
// with the simulated rig's blur, noise, vignetting and ambient light:
// - camera-frame.png: a 1280 x 720 camera seeing a 1920 x 1080 display and
//   the wall around it through a barrel (corner magnification 1.2) and a
//   keystone;
// - wide-lens-frame.png: the same camera through a wide lens (OpenCV's
//   camera model, k1 -0.35, k2 +0.15, tangential terms), the display
//   filling most of the view.
//   make_example_frame OUTDIR
#include <cstdio>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/pattern.h>

#include "support/camera_rig.h"
#include "support/lens_truth.h"
#include "support/synthetic.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example_frame OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const cv::Size display(1920, 1080);
    const cv::Size camera(1280, 720);
    const cv::Mat pattern = quarvel::MakeCalibrationPattern(display.width, display.height).picture;
    const quarvel::Model truth(quarvel::test::TruthFor(1.2, camera, display, 0.04, 1.25), display);
    quarvel::test::CameraRig rig(truth, quarvel::test::RigOptions());
    const quarvel::test::LensTruth wide(quarvel::test::WiderLens(), camera, display);
    quarvel::test::CameraRig wideRig(camera, display, wide.Mapping(), quarvel::test::RigOptions());
    return cv::imwrite(dir + "/camera-frame.png", rig.See(pattern)) &&
                   cv::imwrite(dir + "/wide-lens-frame.png", wideRig.See(pattern))
               ? 0
               : 1;
}
