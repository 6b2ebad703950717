#include "camera/scenario.h"

#include <cstdio>

#include "support/synthetic.h"

namespace quarvel::test {

std::string Scenario::Name() const {
    char text[300];
    if (lens) {
        std::snprintf(text, sizeof text, "%dx%d camera on %dx%d, lens %s%s, blur %.1f, noise %.0f", camera.width,
                      camera.height, display.width, display.height, lens->name.c_str(), mirrored ? ", mirrored" : "",
                      rig.blurSigma, rig.noiseSigma);
        return text;
    }
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
    std::optional<LensTruth> lens;
    std::optional<Model> truth;
    std::optional<CameraRig> rig;
    if (s.lens) {
        lens.emplace(*s.lens, s.camera, s.display, s.lensView, 0.04, s.mirrored);
        rig.emplace(s.camera, s.display, lens->Mapping(), s.rig);
    } else {
        truth.emplace(TruthOf(s));
        rig.emplace(*truth, s.rig);
    }
    const cv::Mat frame = rig->See(MakeCalibrationPattern(s.display.width, s.display.height).picture);
    Outcome o;
    o.seen = DetectCalibrationPattern(frame, s.display.width, s.display.height);
    FitOptions options;
    options.imageWidth = frame.cols;
    options.imageHeight = frame.rows;
    options.displayWidth = s.display.width;
    options.displayHeight = s.display.height;
    o.fit = FitCalibration(o.seen.pairs, options);
    const Model fitted(o.fit.params, s.display);
    if (lens) {
        const HeldOut h = HeldOutError(*lens, [&fitted](const cv::Point2d& p) { return fitted.CorrectPointSubpixel(p); });
        o.heldOut = h.rms;
        o.heldOutMax = h.max;
    } else {
        o.heldOut = HeldOutRms(*truth, fitted, true);
    }
    return o;
}

}  // namespace quarvel::test
