#ifndef QUARVEL_SRC_PREVIEW_WINDOW_H
#define QUARVEL_SRC_PREVIEW_WINDOW_H

#include <opencv2/core.hpp>

namespace quarvel::detail {

// Creates (or reuses) the named window with automatic size and shows the
// image in it, returning at once. Does nothing, and returns false, when no
// display can be reached (OpenCV's GUI backend would abort the process) or
// the GUI backend fails; never throws.
bool ShowInWindow(const char* name, const cv::Mat& image) noexcept;

}  // namespace quarvel::detail

#endif
