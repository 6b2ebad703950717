#ifndef QUARVEL_TOOLS_FULL_SCREEN_H
#define QUARVEL_TOOLS_FULL_SCREEN_H

#include <string>

#include <opencv2/core.hpp>

#include <quarvel/display.h>

namespace quarvel::cli {

// A window covering one output, without decorations: placed at the
// output's position, then made full-screen there. Closed when the object
// goes. Only made when an X server answers (OpenCV's windows would end the
// process without one): check open().
class FullScreenWindow {
public:
    FullScreenWindow(const std::string& title, const DisplayInfo& output);
    ~FullScreenWindow();
    FullScreenWindow(const FullScreenWindow&) = delete;
    FullScreenWindow& operator=(const FullScreenWindow&) = delete;

    bool open() const { return open_; }
    // Shows `picture` and lets the window paint for `milliseconds`; the
    // key pressed meanwhile, or -1.
    int Show(const cv::Mat& picture, int milliseconds);

private:
    std::string title_;
    bool open_ = false;
};

}  // namespace quarvel::cli

#endif
