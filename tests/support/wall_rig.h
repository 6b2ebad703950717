#ifndef QUARVEL_TESTS_SUPPORT_WALL_RIG_H
#define QUARVEL_TESTS_SUPPORT_WALL_RIG_H
// A touch wall of several simulated infrared cameras behind one display.
// Each camera looks at a tile of the display (the tiles overlap) through
// a lens of its own, rendered by OpenCV's camera models (LensTruth): the
// wall's truth is that projection, never the library's model. Each camera
// is calibrated the way an installer would, from targets shown on its
// tile and measured with a little noise, by the library's fit; the rig
// keeps both, and judges against the truth.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>

#include "support/ir_camera.h"
#include "support/lens_truth.h"

namespace quarvel::test {

struct WallLayout {
    int columns = 2;
    int rows = 1;
    cv::Size camera{640, 480};
    // The camera turned a quarter: its image's long side runs down the
    // display (tall tiles of a wide wall).
    bool upright = false;
    double overlap = 0.16;  // of the display's width (and height), between neighbouring tiles
    cv::Size display{1920, 1080};
    IrOptions ir;           // each camera's sensor (its seed made different per camera)
};

class WallRig {
public:
    explicit WallRig(const WallLayout& layout);
    ~WallRig();
    int cameras() const { return static_cast<int>(cameras_.size()); }
    const WallLayout& layout() const { return layout_; }
    // The camera's calibration, as fitted from its measured targets.
    const Model& calibration(int camera) const;
    // The display region the camera's tile covers.
    cv::Rect2d tile(int camera) const;
    // Where camera `camera` sees display position `display`, by the truth;
    // NaN where the camera does not look (well outside its tile).
    cv::Point2d CameraOf(int camera, const cv::Point2d& display) const;
    // Where each pixel of the camera looks on the display, by the truth; NaN
    // beyond the display (for a CameraRig showing it pictures).
    std::function<cv::Point2d(const cv::Point2d&)> DisplayOf(int camera) const;
    // Frame `frame` of the camera with fingers at these display positions.
    cv::Mat Render(int camera, int frame, const std::vector<cv::Point2d>& fingers);
    // The calibration written as a parameter file at `path`.
    bool WriteParams(int camera, const std::string& path) const;

private:
    struct Camera;
    WallLayout layout_;
    std::vector<std::unique_ptr<Camera>> cameras_;
};

}  // namespace quarvel::test

#endif
