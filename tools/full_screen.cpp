#include "full_screen.h"

#include <opencv2/highgui.hpp>

namespace quarvel::cli {

FullScreenWindow::FullScreenWindow(const std::string& title, const DisplayInfo& output) : title_(title) {
    if (!XServerReachable()) {
        return;
    }
    try {
        cv::namedWindow(title_, cv::WINDOW_NORMAL | cv::WINDOW_GUI_NORMAL);
        cv::moveWindow(title_, output.x, output.y);
        cv::setWindowProperty(title_, cv::WND_PROP_FULLSCREEN, cv::WINDOW_FULLSCREEN);
        open_ = true;
    } catch (const cv::Exception&) {
        open_ = false;
    }
}

FullScreenWindow::~FullScreenWindow() {
    if (open_) {
        try {
            cv::destroyWindow(title_);
            cv::waitKey(1);
        } catch (const cv::Exception&) {
        }
    }
}

int FullScreenWindow::Show(const cv::Mat& picture, int milliseconds) {
    if (!open_) {
        return -1;
    }
    try {
        cv::imshow(title_, picture);
        return cv::waitKey(std::max(1, milliseconds));
    } catch (const cv::Exception&) {
        return -1;
    }
}

}  // namespace quarvel::cli
