#ifndef QUARVEL_TOOLS_TRACK_VIEW_H
#define QUARVEL_TOOLS_TRACK_VIEW_H

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>
#include <quarvel/touch.h>

namespace quarvel::cli {

// What `quarvel track --show` shows (BGR, the frame's size): the camera
// frame, the display's edges as the camera sees them, each contact's blob
// ringed with its id and display position, and the frame number.
cv::Mat DrawTracking(const cv::Mat& frame, const std::vector<Contact>& contacts, const Model& calibration,
                     long long number, double fps);

}  // namespace quarvel::cli

#endif
