#ifndef QUARVEL_SRC_BASE_GREY_FRAME_H
#define QUARVEL_SRC_BASE_GREY_FRAME_H

#include <opencv2/core.hpp>

namespace quarvel::detail {

// A camera frame as 8-bit grey (a view when it already is); empty for a
// frame of another depth or channel count.
cv::Mat GreyFrame(const cv::Mat& frame);

}  // namespace quarvel::detail

#endif
