#include "camera/scenario.h"

#include <cstdio>

#include "support/synthetic.h"

namespace quarvel::test {

std::string Scenario::Name() const {
    char text[200];
    std::snprintf(text, sizeof text, "%dx%d camera on %dx%d, m %.2f, view %.2f%s, blur %.1f, noise %.0f, gamma %.1f%s",
                  camera.width, camera.height, display.width, display.height, magnification, view,
                  mirrored ? ", mirrored" : "", rig.blurSigma, rig.noiseSigma, rig.gamma,
                  rig.occluderWidth > 0 ? ", a person in front" : "");
    return text;
}

Model TruthOf(const Scenario& s) {
    return Model(TruthFor(s.magnification, s.camera, s.display, 0.04, s.view, s.mirrored), s.display);
}

Outcome CalibrateFromOneFrame(const Scenario& s) {
    const Model truth = TruthOf(s);
    CameraRig rig(truth, s.rig);
    const cv::Mat frame = rig.See(MakeCalibrationPattern(s.display.width, s.display.height));
    Outcome o;
    o.seen = DetectCalibrationPattern(frame, s.display.width, s.display.height);
    FitOptions options;
    options.imageWidth = frame.cols;
    options.imageHeight = frame.rows;
    options.displayWidth = s.display.width;
    options.displayHeight = s.display.height;
    o.fit = FitCalibration(o.seen.pairs, options);
    o.heldOut = HeldOutRms(truth, Model(o.fit.params), true);
    return o;
}

}  // namespace quarvel::test
