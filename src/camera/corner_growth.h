#ifndef QUARVEL_SRC_CAMERA_CORNER_GROWTH_H
#define QUARVEL_SRC_CAMERA_CORNER_GROWTH_H

#include <vector>

#include <opencv2/core.hpp>

#include "camera/marker_board.h"

namespace quarvel::detail {

// Adds the board's chessboard corners next to those already found, in
// waves: each is predicted from the corners around it (a quadratic in the
// board position, which follows a lens's bending over a few squares),
// refined in the frame (cornerSubPix), and kept when it stays near the
// prediction and the frame shows a corner there (one diagonal dark, the
// other light). `square` is the board's square side in its units. Returns
// how many were added to `corners` and `ids`.
int GrowCorners(const cv::Mat& grey, const MarkerBoard& board, float square, std::vector<cv::Point2f>& corners,
                std::vector<int>& ids);

// The final refinement of corners found (cornerSubPix), each in a window
// sized by its own square's side in the frame (the distance to its nearest
// neighbours on the board; `fallbackSide` where it has none), so that the
// window stays clear of the markers even where a lens squeezes the board.
// A corner the refinement carries farther than 15 % of its side (an
// occluder's edge) is dropped.
void RefineCorners(const cv::Mat& grey, const MarkerBoard& board, float square, double fallbackSide,
                   std::vector<cv::Point2f>& corners, std::vector<int>& ids);

}  // namespace quarvel::detail

#endif
