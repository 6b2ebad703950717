#include "preview/window.h"

#include <opencv2/highgui.hpp>

#include "platform/x_display.h"

namespace quarvel::detail {

bool ShowInWindow(const char* name, const cv::Mat& image) noexcept {
    if (!XServerAccepts()) {
        return false;
    }
    try {
        cv::namedWindow(name, cv::WINDOW_AUTOSIZE);
        cv::imshow(name, image);
        return true;
    } catch (...) {
        // A build of OpenCV without a GUI backend, or a backend error: the
        // canvas is still there for the host to use.
        return false;
    }
}

}  // namespace quarvel::detail
