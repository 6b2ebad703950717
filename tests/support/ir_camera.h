#ifndef QUARVEL_TESTS_SUPPORT_IR_CAMERA_H
#define QUARVEL_TESTS_SUPPORT_IR_CAMERA_H

// A simulated infrared camera watching a touch surface through a known
// calibration: a lit surface with a gradient, a static hot spot, ambient
// light that drifts and sensor noise, and a bright blob wherever a finger
// touches. Fingers are scripted in display pixels; each is drawn at the
// camera position the truth maps to that display position.

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>

namespace quarvel::test {

struct IrOptions {
    double noiseSigma = 2.0;      // sensor noise, grey levels
    double fingerDiameter = 0.0;  // camera pixels; 0: 8 on a 640-wide camera, in proportion on others
    double fingerLevel = 110.0;   // a finger's brightness above the surface, grey levels
    double hotSpotLevel = 150.0;  // a static reflection, grey levels above the surface (saturating)
    double ambientDrift = 10.0;   // amplitude of the ambient light's swing, grey levels
    double ambientPeriod = 300.0; // frames per swing
    unsigned seed = 1;
};

// One finger: down from frame `first` to frame `last` (both included), at
// display position `at(frame)`.
struct ScriptedTouch {
    int first = 0;
    int last = 0;
    std::function<cv::Point2d(int frame)> at;
    bool Down(int frame) const { return frame >= first && frame <= last; }
};

// The truth of a touch surface: a camera of `camera` size that sees all
// of a 1920 x 1080 display (and a little around it) through a barrel of
// corner magnification 1.15 and a mild keystone.
Model TouchTruth(cv::Size camera);

class IrCamera {
public:
    // `truth` maps camera pixels (its image size) to display pixels.
    IrCamera(const Model& truth, const IrOptions& options);

    // Frame number `frame` (8-bit grey, the camera's size) with the
    // fingers down in it.
    cv::Mat Render(int frame, const std::vector<ScriptedTouch>& script);
    // The same with fingers at the given camera positions.
    cv::Mat RenderAt(int frame, const std::vector<cv::Point2d>& fingers);

    // Where the camera sees a display position (through the truth's inverse).
    cv::Point2d CameraOf(const cv::Point2d& display) const;
    const Model& truth() const { return truth_; }
    double fingerDiameter() const { return diameter_; }

private:
    Model truth_;
    IrOptions options_;
    double diameter_;
    cv::Mat surface_;  // CV_32F: the lit surface and the hot spot
    cv::Mat drift_;    // CV_32F: how the ambient light's swing falls across the surface
    cv::RNG random_;
};

}  // namespace quarvel::test

#endif
