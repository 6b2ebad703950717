#ifndef QUARVEL_SRC_CAMERA_CORNER_CHECK_H
#define QUARVEL_SRC_CAMERA_CORNER_CHECK_H

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>

namespace quarvel::detail {

// Drops the corners a smooth camera model does not put where they were
// found: a lens model and homography (the fisheye form, which bends as
// far as the strong lenses the fit takes) fitted to all of them in the
// frame, and every corner farther from its prediction than five robust
// spreads (and a quarter of a pixel) left out, refitted until none is.
// Where the squares are squeezed (the edges of a strong lens) a corner's
// refinement can settle on a marker's margin instead of the corner; this
// finds it. `corners` gives each pair's corner number, kept in step. Does
// nothing with too few pairs, or where no model fits.
void DropStrayCorners(std::vector<PointPair>& pairs, std::vector<int>& corners, cv::Size image, cv::Size display);

}  // namespace quarvel::detail

#endif
