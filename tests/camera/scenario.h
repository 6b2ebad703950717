#ifndef QUARVEL_TESTS_CAMERA_SCENARIO_H
#define QUARVEL_TESTS_CAMERA_SCENARIO_H

// A camera looking at the display on the simulated rig, and the figures a
// fit from what it sees reaches against the truth.

#include <optional>
#include <string>

#include <quarvel/pattern.h>

#include "support/camera_rig.h"
#include "support/lens_truth.h"

namespace quarvel::test {

struct Scenario {
    cv::Size camera{1280, 720};
    cv::Size display{1920, 1080};
    double magnification = 1.2;  // the truth's barrel (1: none)
    double view = 1.25;          // 1.25: the whole display and the wall around it
    bool mirrored = false;       // rear projection
    // A real lens (OpenCV's camera models) instead of the library's barrel;
    // the display then fills `lensView` of the image.
    std::optional<Lens> lens;
    double lensView = 0.94;
    RigOptions rig;
    std::string Name() const;
};

// The truth a scenario's camera looks through (the scenarios without a
// lens).
Model TruthOf(const Scenario& s);

struct Outcome {
    PatternDetection seen;
    FitResult fit;
    double heldOut = 0.0;     // RMS against the truth over the camera's view of the display
    double heldOutMax = 0.0;  // the largest error there
};

// One frame of the calibration pattern, detected and fitted.
Outcome CalibrateFromOneFrame(const Scenario& s);

}  // namespace quarvel::test

#endif
