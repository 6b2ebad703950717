#ifndef QUARVEL_TESTS_SUPPORT_LENS_TRUTH_H
#define QUARVEL_TESTS_SUPPORT_LENS_TRUTH_H

// A camera with a real lens looking at a flat display: a pinhole camera
// behind a lens rendered by OpenCV's own camera models (the distortion of
// cv::projectPoints, or cv::fisheye), with an optional smooth irregularity
// that no closed form holds. The library's lens stage plays no part: where
// a camera pixel looks is found by Newton's method on OpenCV's projection
// (cv::undistortPoints fails near the corners of strong lenses).

#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::test {

struct Lens {
    enum class Family {
        Polynomial,  // cv::projectPoints: radial k1 k2 k3, tangential p1 p2
        Fisheye,     // cv::fisheye::projectPoints: k1 ... k4 on the angle
    };
    std::string name;
    Family family = Family::Polynomial;
    double focal = 0.7;          // times the camera width
    cv::Point2d principalOffset;  // from the image centre, times the camera width
    double k1 = 0, k2 = 0, k3 = 0, p1 = 0, p2 = 0;  // Polynomial
    double f1 = 0, f2 = 0, f3 = 0, f4 = 0;          // Fisheye
    double irregularity = 0;     // camera pixels: amplitude of a smooth displacement on top
};

// The lenses of the calibration's targets: webcams, wide and wider lenses,
// a fisheye, a webcam with an irregularity.
Lens WebcamLens();           // k1 -0.10, k2 +0.05
Lens MixedSignsLens();       // k1 +0.08, k2 -0.20
Lens OffCentreLens();        // k1 -0.20, principal point 1.2 % of the width off
Lens TangentialLens();       // k1 -0.10, p1 p2 2e-3
Lens WideLens();             // k1 -0.30, k2 +0.10
Lens WiderLens();            // k1 -0.35, k2 +0.15, p 1e-3
Lens FisheyeLens();          // OpenCV's fisheye model
Lens IrregularLens();        // the webcam lens, with a 0.25 px irregularity

class LensTruth {
public:
    // The camera of `camera` size sees the display through `lens`: the
    // display's corners land on a quadrilateral that fills `view` of the
    // image (its top edge narrower by `keystone` of the width), mirrored
    // left to right for a camera behind the screen.
    LensTruth(const Lens& lens, cv::Size camera, cv::Size display, double view = 0.94, double keystone = 0.04,
              bool mirrored = false);

    // Where a display position is seen (OpenCV's projection, closed form).
    std::vector<cv::Point2d> CameraOf(const std::vector<cv::Point2d>& display) const;
    // Where a camera position looks on the display (Newton's method on the
    // projection); NaN where it does not converge.
    std::vector<cv::Point2d> DisplayOf(const std::vector<cv::Point2d>& camera) const;

    // DisplayOf for the rig's many samples: exact on a grid of every other
    // pixel, interpolated between (cubic, below 1e-5 px).
    std::function<cv::Point2d(const cv::Point2d&)> Mapping() const;

    cv::Size camera() const { return camera_; }
    cv::Size display() const { return display_; }
    const Lens& lens() const { return lens_; }

private:
    std::vector<cv::Point2d> Project(const std::vector<cv::Point2d>& ideal) const;  // ideal (x, y, 1) -> pixels

    Lens lens_;
    cv::Size camera_;
    cv::Size display_;
    cv::Matx33d cameraMatrix_;
    cv::Matx33d displayToIdeal_;
    cv::Matx33d idealToDisplay_;
    struct Grid;
    std::shared_ptr<const Grid> grid_;
};

// RMS and largest distance, in display pixels, between the truth and a
// corrector over a grid of the camera image, where the truth sees the
// display within `inset` of its size from each edge.
struct HeldOut {
    double rms = 0.0;
    double max = 0.0;
    int points = 0;
};
HeldOut HeldOutError(const LensTruth& truth, const std::function<cv::Point2d(const cv::Point2d&)>& corrected,
                     double inset = 0.03);

}  // namespace quarvel::test

#endif
