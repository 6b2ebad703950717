#ifndef QUARVEL_TOOLS_CAMERA_SOURCE_H
#define QUARVEL_TOOLS_CAMERA_SOURCE_H

#include <optional>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

namespace quarvel::cli {

// Opens a camera by number (V4L2), an image sequence ("frames/%04d.png",
// through OpenCV's image reader) or anything else FFmpeg reads (a video
// file, a stream). `allowNumber` false takes a number as a file name.
bool OpenSource(cv::VideoCapture& capture, const std::string& source, bool allowNumber = true);

// What a camera is asked for when it is opened (--camera-format,
// --camera-size, --camera-fps, --exposure, --gain).
struct CameraSettings {
    std::string format;              // a four-character code (MJPG, YUYV, GREY); "" the camera's own
    cv::Size size;                   // empty: the camera's own
    double fps = 0.0;                // 0: the camera's own
    bool autoExposure = false;       // --exposure auto: the camera's own exposure control stays on
    std::optional<double> exposure;  // the driver's units
    std::optional<double> gain;
    bool any() const { return !format.empty() || !size.empty() || fps > 0 || autoExposure || exposure || gain; }
};

// `settings` applied to a camera just opened. A camera's automatic
// exposure is turned off unless asked for: a finger's brightness must not
// change with what else the camera sees. What it did not take, one line
// each (a stream or a file takes none of them).
std::vector<std::string> ApplyCameraSettings(cv::VideoCapture& capture, const CameraSettings& settings);

// The frame rate of `source` as opened in `capture`: what a video says, 30
// when it says nothing and for image sequences (OpenCV reports 1 for those).
double FramesPerSecond(cv::VideoCapture& capture, const std::string& source);

// An image file as 8-bit grey; empty when it cannot be read.
cv::Mat ReadGreyImage(const std::string& path);

// Enter pressed in the terminal (a key, where the terminal is in raw mode).
bool TerminalKey();

}  // namespace quarvel::cli

#endif
