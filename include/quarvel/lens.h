#ifndef QUARVEL_LENS_H
#define QUARVEL_LENS_H

// The lens stage: what a camera's lens does that the barrel cannot hold
// (higher radial orders, tangential terms, a distortion centre off the
// image centre, a fisheye's projection, small irregularities), undone in
// front of the barrel and the matrix.
//
// A calibration fitted with a lens stage keeps its barrel and matrix as
// the best fit of those alone, which is what a reader that knows only them
// gets. The stage maps each camera position to the one that barrel and
// matrix then carry to its place on the display:
//
//   lens(p) = (barrel and matrix)^-1 ( H (undistort(p)) + residual(p) )
//
// with undistort() the inverse of the lens model below, H a homography
// onto the display and residual() a smooth correction. A Model computes it
// once for every position of a grid over the camera image (Newton's method
// for the inverse) and interpolates between: correcting a point never
// iterates.

#include <vector>

#include <opencv2/core.hpp>

namespace quarvel {

struct LensStage {
    enum class Form {
        NoStage,     // no lens stage: the barrel and matrix alone (not "None": X11 defines that)
        Polynomial,  // x_d = x (1 + k1 r^2 + k2 r^4 + k3 r^6) + tangential terms (the standard camera model)
        Fisheye,     // r_d = theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8), theta = atan r
    };
    Form form = Form::NoStage;
    // The lens model, in positions x = (p - centre) / focal of a camera
    // pixel p: the distortion centre and the length that scales it.
    double centerX = 0.0;
    double centerY = 0.0;
    double focal = 0.0;
    double k[4] = {0.0, 0.0, 0.0, 0.0};  // radial terms (Polynomial: k1 k2 k3; Fisheye: k1 ... k4)
    double p[2] = {0.0, 0.0};            // tangential terms p1, p2
    // The undistorted camera image onto the display, in display pixels.
    cv::Matx33d homography = cv::Matx33d::eye();
    // A smooth residual, in display pixels: the control points of a cubic
    // B-spline over a gridColumns x gridRows lattice spanning the camera
    // image (row by row). Empty: none.
    int gridColumns = 0;
    int gridRows = 0;
    std::vector<cv::Point2d> grid;

    bool active() const noexcept { return form != Form::NoStage; }
};

}  // namespace quarvel

#endif
