#ifndef QUARVEL_TESTS_SUPPORT_CAMERA_RIG_H
#define QUARVEL_TESTS_SUPPORT_CAMERA_RIG_H

// A simulated camera looking at the display through a known calibration:
// for each camera pixel it takes the picture where the true chain maps it
// (supersampled over the pixel), with what a real rig adds: the
// projector's gamma and black level, ambient light, a wall around the
// display, vignetting, optical blur, sensor noise, a person in front,
// frames that lag the picture and an exposure that settles.

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>

namespace quarvel::test {

struct RigOptions {
    double blurSigma = 1.0;    // optical blur, camera pixels
    double noiseSigma = 2.0;   // sensor noise, grey levels
    double vignetting = 0.35;  // brightness lost at the image corners
    double gamma = 2.2;        // the projector's
    double blackLevel = 0.04;  // the projector's black, as a share of its white
    double ambient = 0.06;     // light on everything, as a share of the projector's white
    double wall = 0.12;        // what surrounds the display, as a share of white
    double exposure = 0.8;     // the camera's gain: the projector's white at this share of 255
    int supersample = 3;       // samples per camera pixel and axis
    // A person in front of the display: the share of the frame's width
    // they hide (0: nobody), standing at the given share of the width.
    double occluderWidth = 0.0;
    double occluderAt = 0.6;
    unsigned seed = 1;
};

class CameraRig {
public:
    // Where each camera position looks on the display: a camera of `camera`
    // size, a display of `display` size. NaN: nowhere (the wall).
    using Mapping = std::function<cv::Point2d(const cv::Point2d&)>;
    CameraRig(cv::Size camera, cv::Size display, const Mapping& cameraToDisplay, const RigOptions& options);
    // `truth` maps camera pixels (its image size) to display pixels (its
    // display) through the library's own chain: the same-model cases.
    CameraRig(const Model& truth, const RigOptions& options);

    // What the camera sees of `picture` (the display's size, 8-bit grey),
    // with the exposure scaled by `gain`. Each call draws new noise.
    cv::Mat See(const cv::Mat& picture, double gain = 1.0);

    // A capture for CalibrateWithCamera: each call returns a frame of the
    // picture shown `lag` calls earlier (black before the first), and after
    // every change of picture the exposure settles from half to full over
    // `settleFrames` frames. Returns an empty frame after `maxFrames` calls.
    std::function<cv::Mat(const cv::Mat&)> Capture(int lag, int settleFrames, int maxFrames = 400);

private:
    cv::Mat Luminance(const cv::Mat& picture);  // the display as the camera sees it, before the sensor

    cv::Size camera_;
    cv::Size display_;
    RigOptions options_;
    cv::Mat mapX_;  // supersampled camera positions -> display positions
    cv::Mat mapY_;
    cv::Mat shading_;  // vignetting and the occluder, per camera pixel
    cv::RNG random_;
    std::vector<std::pair<cv::Mat, cv::Mat>> seen_;  // (picture, luminance) already rendered
};

}  // namespace quarvel::test

#endif
