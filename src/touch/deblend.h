#ifndef QUARVEL_SRC_TOUCH_DEBLEND_H
#define QUARVEL_SRC_TOUCH_DEBLEND_H

// Where close fingertips are, each from its own share of their joined
// light. No profile is assumed but symmetry: a fingertip's light is the same
// on either side of its centre, while its neighbour's lies on one side
// only. So each fingertip's template is, pixel by pixel, the lower of the
// light there and at the mirror image through its centre; each pixel's
// light is shared out in proportion to the templates; and each centre
// moves to the middle of its share (under a Gaussian window, as a lone
// fingertip is measured), a few times over, each template made again from
// the light the others' shares leave. A template never rises again away
// from its centre: what does is a neighbour's light.

#include <vector>

#include <opencv2/core.hpp>

#include "touch/patch.h"

namespace quarvel::detail {

struct Share {
    cv::Point2d centre;  // patch coordinates
    double area = 0.0;   // the high pixels' shares that are its
};

class Deblender {
public:
    // `light`: each patch pixel's light (0 where it is not the set's to
    // share); a share weighs by how far it rises above `base`; `high`: the
    // level above which a pixel counts in the areas; `width`: the window's
    // standard deviation.
    std::vector<Share> Apart(const Patch& patch, const std::vector<float>& light, std::vector<cv::Point2d> centres,
                             double base, double high, double width, int rounds);

private:
    void Monotone(std::vector<float>& t, const cv::Point2d& centre, int w, int h);
    void ShareOut(const std::vector<float>& light, const std::vector<cv::Point2d>& centres, int w, int h);

    std::vector<std::vector<float>> templates_;
    std::vector<std::vector<float>> shares_;  // per fingertip, per pixel: its share of the light
    std::vector<float> left_;
    std::vector<double> across_;
    std::vector<double> down_;
};

}  // namespace quarvel::detail

#endif
