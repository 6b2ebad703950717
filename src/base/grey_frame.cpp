#include "base/grey_frame.h"

#include <opencv2/imgproc.hpp>

namespace quarvel::detail {

cv::Mat GreyFrame(const cv::Mat& frame) {
    cv::Mat grey;
    if (frame.empty() || frame.depth() != CV_8U) {
        return grey;
    }
    switch (frame.channels()) {
        case 1: grey = frame; break;
        case 3: cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY); break;
        case 4: cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY); break;
        default: break;
    }
    return grey;
}

}  // namespace quarvel::detail
